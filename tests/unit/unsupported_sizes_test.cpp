// A size, binning or frame that an image stage does not take leaves its output as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "acquisition/binned_references.h"
#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "color/interpolation.h"
#include "flow/stage_adapters.h"
#include "interp_test_util.h"

namespace {

using ucap::Rect;

std::string size_name(int w, int h) {
  char text[32];
  return std::string(text, static_cast<size_t>(std::snprintf(text, sizeof text, " %dx%d", w, h)));
}

TEST(UnsupportedSizes, LeaveTheOutputUntouched) {
  const size_t n = static_cast<size_t>(ucap::kMaxSensorWidth + 2) * 4;
  const std::vector<uint16_t> in = interp_test::random_samples(n, 21);
  const uint16_t* raw = in.data();
  const ucap::ReferenceView refs{raw, raw, 8, 12};
  const auto tables = interp_test::identity_gains();
  const ucap::ColorTables* t = tables.get();

  struct Row {
    std::string name;
    std::function<void(uint16_t*)> run;
  };
  std::vector<Row> rows;
#define ROW(what, ...) rows.push_back({what, [=](uint16_t* out) { __VA_ARGS__; }})
  for (const Rect& r : {Rect{0, 0, 2, 2}, Rect{0, 0, 5, 4}, Rect{0, 0, 4, 0}, Rect{0, 0, 4, 3}}) {
    const std::string size = size_name(r.width(), r.height());
    for (int quality : {1, 2})
      ROW("InterpolateColor " + std::to_string(quality) + size,
          ucap::InterpolateColor(*t, out, raw, r, quality, ucap::library_services()));
    ROW("InterpolateBlocks" + size, ucap::InterpolateBlocks(*t, out, raw, r));
  }
  for (auto [w, h] : {std::pair{2, 2}, {4, 0}, {5, 4}, {4, 3}, {-4, 2}})
    ROW("InterpolateStandard" + size_name(w, h), ucap::InterpolateStandard(w, h, out));
  for (auto [w, h] : {std::pair{4, 6}, {6, 4}, {7, 6}, {6, 7}}) {
    ROW("InterpolateHighQuality" + size_name(w, h),
        ucap::InterpolateHighQuality(2, w, h, out, ucap::library_services()));
    ROW("InterpolateGreenHQ" + size_name(w, h), ucap::InterpolateGreenHQ(w, h, out));
  }
  for (int b : {0, 6}) {
    const std::string binning = " binning " + std::to_string(b);
    ROW("AssembleHalfColor" + binning, ucap::AssembleHalfColor(*t, out, raw, b, Rect{0, 0, 24, 2}));
    ROW("ApplyReferences" + binning,
        ucap::ApplyReferences(refs, out, 4000, Rect{0, 0, 4, 4}, b, true, true, false));
  }
  // Binned references need binning 2 to 5, a group of 2b rows and arrays for the image.
  const struct {
    const char* what;
    Rect rect;
    int b;
  } binned[] = {{"binning 1", {0, 0, 8, 12}, 1},
                {"binning 6", {0, 0, 8, 12}, 6},
                {"5 rows at b 3", {0, 0, 8, 5}, 3}};
  for (const auto& c : binned) {
    ROW(std::string("PrepareBinnedReferences ") + c.what,
        ucap::PrepareBinnedReferences(refs, {out, out + 64, 64}, 4000, c.rect, c.b, true, true));
    ROW(std::string("ApplyBinnedReferences ") + c.what,
        ucap::ApplyBinnedReferences(raw, raw, 64, out, c.rect, c.b, true, true));
  }
  ROW("PrepareBinnedReferences switched off",
      ucap::PrepareBinnedReferences(refs, {out, out + 64, 64}, 4000, Rect{0, 0, 8, 12}, 2, false,
                                    false));
  ROW("ApplyBinnedReferences more rows than the arrays",
      ucap::ApplyBinnedReferences(raw, raw, 16, out, Rect{0, 0, 4, 40}, 2, true, true));
  // Packed frames whose samples would need more bytes than the buffer has.
  ROW("UnpackPixels12 one group short",
      ucap::UnpackPixels12(reinterpret_cast<uint8_t*>(out), 3, 0, 2, 1, 3));
  ROW("UnpackPixels12 second field past the end",
      ucap::UnpackPixels12(reinterpret_cast<uint8_t*>(out), 64, 2, 4, 4, 1000));
  ROW("CorrectSmear wider than the widest sensor",
      ucap::CorrectSmear(out, ucap::kMaxSensorWidth + 2, 4));
#undef ROW

  for (const Row& row : rows) {
    std::vector<uint16_t> out(in.rbegin(), in.rend());
    const std::vector<uint16_t> before = out;
    row.run(out.data());
    EXPECT_EQ(out, before) << row.name;
  }
}

}  // namespace
