// Binned references of continuous acquisition: preparation, application, and their
// agreement with the per-frame reference correction.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "acquisition/binned_references.h"
#include "acquisition/raw_stages.h"
#include "core/record.h"
#include "flow/stage_adapters.h"
#include "interp_test_util.h"

namespace {

using interp_test::Refs;
using ucap::Rect;

struct Binned {
  std::vector<uint16_t> black, white;
  explicit Binned(size_t n, uint16_t fill = 0xEEEE) : black(n, fill), white(n, fill) {}
  ucap::BinnedReferences out() { return {black.data(), white.data(), black.size()}; }
};

TEST(PrepareBinnedReferences, OffsetsSaturateInsteadOfWrapping) {
  Refs s(1, 4);
  s.offset(0) = 32000;
  for (int y = 0; y < 4; ++y) s.dark(0, y) = 4000;  // dark part (4095 * 3000) >> 13 = 1499
  Binned b(1);
  ucap::PrepareBinnedReferences(s.view(), b.out(), 24000, Rect{0, 0, 1, 4}, 2, true, false);
  EXPECT_EQ(b.black[0], 32767);
  std::vector<uint16_t> image = {4095};
  ucap::ApplyBinnedReferences(b.black.data(), b.white.data(), 1, image.data(), Rect{0, 0, 1, 4},
                              2, true, false);
  EXPECT_EQ(image[0], 0);
}

// Prepared once and applied to a frame, the binned references give the image that the
// per-frame correction with row pairs gives, for random references, rectangles (also
// reaching the bottom of the sensor), binnings, exposures and switches.
TEST(BinnedReferences, AgreeWithThePerFrameCorrectionWithRowPairs) {
  std::mt19937 rng(5);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  for (int trial = 0; trial < 300; ++trial) {
    const int b = uniform(2, 5);
    const int unit = 2 * b;
    const int w = unit * uniform(1, 6), h = unit * uniform(2, 8) + (trial % 2) * 2;
    Refs s(w, h);
    for (auto& v : s.black) v = static_cast<uint16_t>(uniform(-300, 4095));
    for (int x = 0; x < w; ++x) s.offset(x) = static_cast<uint16_t>(uniform(-100, 100));
    for (auto& v : s.white) v = static_cast<uint16_t>(uniform(1024, 12000));
    const int left = unit * uniform(0, w / unit - 1), right = unit * uniform(left / unit + 1, w / unit);
    const int top = unit * uniform(0, h / unit - 1);
    const int bottom = trial % 3 == 0 ? h - h % unit : unit * uniform(top / unit + 1, h / unit);
    const Rect rect{left, top, right, bottom};
    const bool black = uniform(0, 2) != 0, white = uniform(0, 2) != 1 || !black;
    const int32_t ticks = trial % 4 == 0 ? uniform(65536, 240000) : uniform(1, 65536);
    const int rows = rect.height() / unit;
    std::vector<uint16_t> frame(static_cast<size_t>(rows) * rect.width());
    for (auto& v : frame) v = static_cast<uint16_t>(uniform(0, 4095));
    auto expected = frame;
    ucap::ApplyReferences(s.view(), expected.data(), ticks, rect, b, black, white, true);
    Binned binned(frame.size());
    ucap::PrepareBinnedReferences(s.view(), binned.out(), ticks, rect, b, black, white);
    ucap::ApplyBinnedReferences(binned.black.data(), binned.white.data(), frame.size(),
                                frame.data(), rect, b, black, white);
    ASSERT_EQ(frame, expected) << "trial " << trial << " b " << b << " rect " << left << ","
                               << top << "," << right << "," << bottom << " ticks " << ticks;
  }
}

}  // namespace
