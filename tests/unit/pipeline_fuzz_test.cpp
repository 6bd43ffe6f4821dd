// Randomised runs of every image stage over many sizes, rectangles and binnings, with
// every buffer exactly as large as the stage's geometry says. Under the address and
// undefined-behaviour sanitizers any access outside a buffer fails the run; without them
// the runs still check that results stay in the 12-bit range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "acquisition/binned_references.h"
#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "calibration/color_tables.h"
#include "color/interpolation.h"
#include "flow/stage_adapters.h"

namespace {

using ucap::library_services;
using ucap::Rect;

class Fuzz : public ::testing::Test {
 protected:
  int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
  std::vector<uint16_t> samples(size_t n, int hi = 4095) {
    std::vector<uint16_t> v(n);
    for (auto& s : v) s = static_cast<uint16_t>(uniform(0, hi));
    return v;
  }
  static void expect_twelve_bit(const std::vector<uint16_t>& v) {
    for (uint16_t s : v) ASSERT_LE(s, 4095);
  }
  std::unique_ptr<ucap::ColorTables> tables() {
    auto t = std::make_unique<ucap::ColorTables>();
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < ucap::kTableSize; ++i)
        t->gain[c][i] = static_cast<uint16_t>(std::min(4095, i * (c + 2) / 3));
    const double saturation[3] = {uniform(0, 40) / 10.0, 1.0, 2.5};
    double matrix[9];
    ucap::build_color_matrix(saturation, matrix);
    ucap::build_term_tables(matrix, *t);
    ucap::fill_output_table(*t);
    return t;
  }
  std::mt19937 rng_{20};
};

TEST_F(Fuzz, RawStages) {
  for (int trial = 0; trial < 300; ++trial) {
    const int W = uniform(1, 40), H = uniform(1, 40);
    const size_t n = static_cast<size_t>(W) * H;
    std::vector<uint8_t> frame(2 * n);
    for (auto& b : frame) b = static_cast<uint8_t>(uniform(0, 255));
    ucap::UnpackPixels12(frame.data(), frame.size(), uniform(0, 3), W, H,
                         static_cast<uint64_t>(uniform(0, 6 * static_cast<int>(n))));
    const auto src = samples(n);
    std::vector<uint16_t> dst(n);
    ucap::InterleaveFields(dst.data(), src.data(), W, H);
    std::vector<uint16_t> doubled(2 * n);
    ucap::double_rows(doubled.data(), src.data(), W, H);
  }
}

TEST_F(Fuzz, ReferenceCorrectionAndBlemishes) {
  for (int trial = 0; trial < 400; ++trial) {
    const int refW = uniform(1, 30), refH = uniform(1, 30);
    std::vector<uint16_t> black((refH + 2) * refW), white(refH * refW);
    for (auto& v : black) v = static_cast<uint16_t>(uniform(-32768, 32767));
    for (auto& v : white) v = static_cast<uint16_t>(uniform(-32768, 32767));
    const ucap::ReferenceView refs{black.data(), white.data(), refW, refH};
    // Rectangles mostly inside the sensor, sometimes reaching past it.
    const int left = uniform(-4, refW), top = uniform(-4, refH);
    const Rect rect{left, top, left + uniform(0, refW + 4), top + uniform(0, refH + 6)};
    const int b = uniform(0, 6);
    const bool row_pair = uniform(0, 1) == 1;
    const int m = std::max(1, row_pair ? 2 * b : b);
    const size_t rows = rect.height() / m;
    std::vector<uint16_t> image(std::max<size_t>(1, rows * rect.width()));
    for (auto& v : image) v = static_cast<uint16_t>(uniform(0, 4095));
    const int32_t ticks = trial % 7 == 0 ? uniform(-5, 0) : uniform(1, 240000);
    ucap::ApplyReferences(refs, image.data(), ticks, rect, b, uniform(0, 1), uniform(0, 1),
                          row_pair);
    expect_twelve_bit(image);
    std::vector<uint32_t> list(uniform(0, 50));
    for (auto& p : list) p = static_cast<uint32_t>(uniform(0, 2 * refW * refH + 5));
    ucap::CorrectBlemishes(list.data(), static_cast<int32_t>(list.size()), refs, uniform(0, 1),
                           image.data(), rect, b, ticks, row_pair);
    expect_twelve_bit(image);
  }
}

TEST_F(Fuzz, BinnedReferences) {
  for (int trial = 0; trial < 300; ++trial) {
    const int refW = uniform(1, 30), refH = uniform(1, 40);
    std::vector<uint16_t> black((refH + 2) * refW), white(refH * refW);
    for (auto& v : black) v = static_cast<uint16_t>(uniform(-32768, 32767));
    for (auto& v : white) v = static_cast<uint16_t>(uniform(-32768, 32767));
    const ucap::ReferenceView refs{black.data(), white.data(), refW, refH};
    const int left = uniform(-2, refW), top = uniform(-2, refH);
    const Rect rect{left, top, left + uniform(0, refW + 2), top + uniform(0, refH + 4)};
    const int b = uniform(1, 6);
    const size_t capacity = static_cast<size_t>(uniform(1, 400));
    std::vector<uint16_t> binned_black(capacity), binned_white(capacity);
    ucap::PrepareBinnedReferences(refs, {binned_black.data(), binned_white.data(), capacity},
                                  uniform(0, 240000), rect, b, uniform(0, 1), uniform(0, 1));
    const size_t rows = rect.height() / (2 * b);
    std::vector<uint16_t> image(std::max<size_t>(1, rows * std::max(0, rect.width())));
    ucap::ApplyBinnedReferences(binned_black.data(), binned_white.data(), capacity, image.data(),
                                rect, b, uniform(0, 1), uniform(0, 1));
    expect_twelve_bit(image);
  }
}

TEST_F(Fuzz, SmearHalfResolutionAndColorMatrix) {
  const auto t = tables();
  for (int trial = 0; trial < 200; ++trial) {
    const int W = trial == 0 ? ucap::kMaxSensorWidth + 1 : uniform(1, 60), H = uniform(1, 40);
    auto image = samples(static_cast<size_t>(W) * H);
    ucap::CorrectSmear(image.data(), W, H);
    expect_twelve_bit(image);
    const int b = uniform(1, 5);
    const size_t Q = W / (2 * b);
    const auto in = samples(static_cast<size_t>(W) * H, 65535);
    std::vector<uint16_t> color(std::max<size_t>(1, 3 * Q * H));
    ucap::AssembleHalfColor(*t, color.data(), in.data(), b, Rect{0, 0, W, H});
    std::vector<uint16_t> mono(std::max<size_t>(1, Q * H));
    ucap::AssembleHalfMono(mono.data(), in.data(), b, Rect{0, 0, W, H});
    expect_twelve_bit(mono);
    auto pixels = samples(static_cast<size_t>(W) * 3, 65535);
    ucap::ApplyColorMatrix(*t, 1, pixels.data(), W);
    expect_twelve_bit(pixels);
  }
}

TEST_F(Fuzz, Interpolators) {
  const auto t = tables();
  for (int trial = 0; trial < 300; ++trial) {
    const int w = uniform(0, 24), h = uniform(0, 24);
    const size_t n = static_cast<size_t>(w) * h;
    const auto raw = samples(std::max<size_t>(1, n), trial % 3 == 0 ? 65535 : 4095);
    std::vector<uint16_t> out(std::max<size_t>(1, 3 * n));
    ucap::InterpolateColor(*t, out.data(), raw.data(), Rect{0, 0, w, h}, uniform(1, 2),
                           library_services());
    ucap::InterpolateBlocks(*t, out.data(), raw.data(), Rect{0, 0, w, h});
    if (ucap::standard_interpolation_fits(w, h)) expect_twelve_bit(out);
    const int b = uniform(1, 6);
    const int out_w = 2 * ((w / b) / 2), out_h = 2 * (h / 2);
    std::vector<uint16_t> binned(std::max<size_t>(1, 3 * static_cast<size_t>(out_w) * out_h));
    ucap::InterpolateBinned(*t, binned.data(), raw.data(), Rect{0, 0, w, h}, b, library_services());
    if (ucap::standard_interpolation_fits(out_w, out_h)) expect_twelve_bit(binned);
    auto image = samples(std::max<size_t>(1, 3 * n), 65535);
    ucap::InterpolateHighQuality(2, w, h, image.data(), library_services());
    ucap::InterpolateStandard(w, h, image.data());
    ucap::AssembleSingle(uniform(0, 2), w, h, image.data(), library_services());
  }
}

}  // namespace
