// The interpolators: the line fit, the block interpolator, the entries that pick and bin,
// flat fields, and the AVX2 builds against the plain ones (the images themselves: the
// shipped library's digests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <tuple>
#include <vector>

#include "acquisition/frame_stages.h"
#include "color/interpolation.h"
#include "core/reporter.h"
#include "core/simd.h"
#include "flow/stage_adapters.h"
#include "interp_test_util.h"
#include "platform/seams.h"
#include "support/messages.h"

namespace {

using interp_test::identity_gains;
using interp_test::mosaic_image;
using ucap::library_services;
using ucap::Rect;

// Samples may hold any 16-bit value: the AVX2 builds (the standard interpolator's quotients
// at their largest dividends and caps; the blocks' and the half-resolution assembly's table
// look-ups; the high-quality one, which also works in place) must give the plain builds'
// images. Trial 0 is a flat field (red and blue
// 36860, greens 10 and 399) whose refined ratios divide 19142025 exactly by 399, a dividend
// no float holds; the others are random (every fourth a 12-bit mosaic with a word above 12
// bits here and there, as the vector steps stop at one), with widths that leave every
// remainder of the eight-cell vector steps; the last a gentle field with one green above 12
// bits, which the rows resampled around it must not take for a 12-bit one.
TEST(Interpolators, Avx2BuildsGiveThePlainImagesForAnySamples) {
  const auto t = identity_gains();
  std::mt19937 rng(11);
  for (int trial = 0; trial < 25; ++trial) {
    const int w = 2 * (16 + trial) + (trial % 3 == 1 ? 512 : 0), h = 2 + 2 * (trial % 5);
    std::vector<uint16_t> mosaic(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < mosaic.size(); ++i) {
      const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
      mosaic[i] = static_cast<uint16_t>(trial == 24  ? 1500 + rng() % 200
                                        : trial == 0 ? (x % 2 == y % 2 ? 36860
                                                        : y % 2        ? 399
                                                                       : 10)
                                        : trial % 4 == 3
                                            ? (i % 97 == 0 ? 4096 + rng() % 61439 : rng() % 4096)
                                        : trial % 2 ? rng()
                                        : rng() % 3 ? 60000 + rng() % 5536
                                                    : rng() % 8);
    }
    if (trial == 24) mosaic[4 * w + 5] = 20000;  // one green above 12 bits in a gentle field
    std::vector<uint16_t> images[2];
    for (bool avx2 : {false, true}) {
      ucap::simd::allow_avx2(avx2);
      auto standard = mosaic_image(mosaic, w, h);
      ucap::InterpolateStandard(w, h, standard.data());
      std::vector<uint16_t> blocks(3 * mosaic.size()), half(3 * mosaic.size() / 2);
      ucap::InterpolateBlocks(*t, blocks.data(), mosaic.data(), Rect{0, 0, w, h});
      ucap::AssembleHalfColor(*t, half.data(), mosaic.data(), 1, Rect{0, 0, w, h});
      images[avx2] = standard;
      images[avx2].insert(images[avx2].end(), blocks.begin(), blocks.end());
      images[avx2].insert(images[avx2].end(), half.begin(), half.end());
      if (h >= 6) {  // the high-quality one, streamed and in place (without its work area)
        std::vector<uint16_t> high[2];
        for (int in_place : {0, 1}) {
          high[in_place] = mosaic_image(mosaic, w, h);
          if (in_place) ucap::platform::testing::fail_work_allocations(1);
          ucap::InterpolateHighQuality(2, w, h, high[in_place].data(), library_services());
        }
        ASSERT_EQ(high[0], high[1]) << w << "x" << h << " trial " << trial;
        images[avx2].insert(images[avx2].end(), high[0].begin(), high[0].end());
      }
    }
    ASSERT_EQ(images[0], images[1]) << w << "x" << h << " trial " << trial;
  }
}

// A field of one color: with every green at 1024 each ratio the standard interpolator forms
// is the red or blue sample itself, so every pixel comes out as (blue, 1024, red) exactly,
// from the smallest frame it takes (4 x 2) to widths past one batch of cells.
TEST(InterpolateStandard, KeepsAFieldOfOneColorExactly) {
  for (auto [w, h, red, blue] : {std::tuple<int, int, uint16_t, uint16_t>{4, 2, 2000, 500},
                                 {6, 4, 0, 4095},
                                 {258, 2, 4095, 0},
                                 {260, 6, 1500, 1024},
                                 {4, 8, 37, 3000}}) {
    std::vector<uint16_t> mosaic(static_cast<size_t>(w) * h, 1024), expected;
    for (int y = 0; y < h; y += 2)
      for (int x = 0; x < w; x += 2) mosaic[y * w + x] = red, mosaic[(y + 1) * w + x + 1] = blue;
    for (int i = 0; i < w * h; ++i) expected.insert(expected.end(), {blue, 1024, red});
    for (bool avx2 : {false, true}) {
      ucap::simd::allow_avx2(avx2);
      auto image = mosaic_image(mosaic, w, h);
      ucap::InterpolateStandard(w, h, image.data());
      EXPECT_EQ(image, expected) << w << "x" << h << " avx2 " << avx2;
    }
  }
}

TEST(FitLine, DropsThePointWithTheLargestResidualAndAnchorsPullTheLineThroughTheOrigin) {
  uint16_t x[9], y[9];
  for (int k = 0; k < 9; ++k) x[k] = y[k] = static_cast<uint16_t>(300 + 100 * k);
  y[4] = 4000;  // far off the diagonal that the anchors share
  ucap::LineFit line = ucap::FitLine(x, y);
  EXPECT_NEAR(line.slope, 1.0, 1e-12);
  EXPECT_NEAR(line.intercept, 0.0, 1e-9);
  // Nine points of y = x / 2 and the anchors; the (4095, 4095) anchor lies furthest off and
  // is dropped, leaving the nine points and (0, 0) on y = x / 2 (up to the 1 that keeps the
  // sums of squares away from 0).
  for (int k = 0; k < 9; ++k) {
    x[k] = static_cast<uint16_t>(400 * (k + 1));
    y[k] = static_cast<uint16_t>(200 * (k + 1));
  }
  line = ucap::FitLine(x, y);
  EXPECT_NEAR(line.slope, 0.5, 1e-6);
  EXPECT_NEAR(line.intercept, 0.0, 1e-3);
}

TEST(AssembleSingle, AMissingTemporaryPlaneIsReportedAndTheOtherPlanesGoOn) {
  const int w = 6, h = 6;
  std::vector<uint16_t> image(w * h * 3);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint16_t>(i % 4096);
  const auto before = image;
  ucap_test::MessageCapture capture;
  ucap::platform::testing::fail_work_allocations(1);
  ucap::AssembleSingle(2, w, h, image.data(), library_services());
  EXPECT_EQ(image, before);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0], ucap::msg::kAssembleSingleMemory);
  ucap::AssembleSingle(2, w, h, image.data(), library_services());
  EXPECT_NE(image, before);
  EXPECT_EQ(capture.lines().size(), 1u);
}

// Tables that tell the colors apart: red 3x + 1, green 3x, blue 3x + 2.
std::unique_ptr<ucap::ColorTables> tagged_gains() {
  auto t = identity_gains();
  for (int i = 0; i < ucap::kTableSize; ++i) {
    t->gain[ucap::kRed][i] = static_cast<uint16_t>(3 * i + 1);
    t->gain[ucap::kGreen][i] = static_cast<uint16_t>(3 * i);
    t->gain[ucap::kBlue][i] = static_cast<uint16_t>(3 * i + 2);
  }
  return t;
}

TEST(InterpolateBlocks, TheWorkedSixByFourFrame) {
  // Samples 10, 21, 32, ... row by row. Each pixel takes the block whose top-left corner
  // it is; the last column and row use the sites inside, the bottom-right pixel the greens
  // of the block at (4, 2). Means of two greens are truncated. Each color goes through its
  // own table.
  const int w = 6, h = 4;
  std::vector<uint16_t> raw(w * h);
  for (int i = 0; i < w * h; ++i) raw[i] = static_cast<uint16_t>(10 + 11 * i);
  std::vector<uint16_t> out(w * h * 3);
  ucap::InterpolateBlocks(*tagged_gains(), out.data(), raw.data(), Rect{0, 0, w, h});
  std::vector<uint16_t> expected = {
      // blue, green, red, before the tables
      87,  48,  10,  87,  59,  32,  109, 70,  32,  109, 81,  54,  131, 92,  54,  131, 65,  54,
      87,  114, 142, 87,  125, 164, 109, 136, 164, 109, 147, 186, 131, 158, 186, 131, 197, 186,
      219, 180, 142, 219, 191, 164, 241, 202, 164, 241, 213, 186, 263, 224, 186, 263, 197, 186,
      219, 208, 142, 219, 230, 164, 241, 230, 164, 241, 252, 186, 263, 252, 186, 263, 224, 186};
  const int tag[3] = {2, 0, 1};  // blue 3x + 2, green 3x, red 3x + 1
  for (size_t i = 0; i < expected.size(); ++i)
    expected[i] = static_cast<uint16_t>(3 * expected[i] + tag[i % 3]);
  EXPECT_EQ(out, expected);
}

TEST(bin_columns, WindowsFollowTheTableForEveryBinning) {
  // Columns averaged, relative to q = 2bp: even output column, odd output column of a
  // pair that is not the last.
  const std::vector<std::vector<int>> even = {{},        {},           {0, 2},
                                              {0, 2, 4}, {0, 2, 4, 6}, {0, 2, 4, 6, 8}};
  const std::vector<std::vector<int>> odd = {
      {}, {}, {1, 3, 5}, {3, 5, 7}, {3, 5, 7, 9, 11}, {5, 7, 9, 11, 13}};
  std::mt19937 rng(8);
  for (int b = 2; b <= 5; ++b) {
    const int W = 8 * b + 3;
    std::vector<uint16_t> row(W);
    for (auto& v : row) v = static_cast<uint16_t>(rng() % 4096);
    const int out_w = 2 * ((W / b) / 2);
    std::vector<uint16_t> out(out_w);
    ucap::bin_columns(out.data(), row.data(), W, 1, b);
    for (int p = 0; p < out_w / 2; ++p) {
      const int q = 2 * b * p;
      int sum = 0;
      for (int c : even[b]) sum += row[q + c];
      EXPECT_EQ(out[2 * p], sum / static_cast<int>(even[b].size())) << "b " << b << " p " << p;
      sum = 0;
      if (p == out_w / 2 - 1) {
        for (int k = 0; k < b; ++k) sum += row[q + 2 * k + 1];
        EXPECT_EQ(out[2 * p + 1], sum / b) << "b " << b << " last pair";
      } else {
        for (int c : odd[b]) sum += row[q + c];
        EXPECT_EQ(out[2 * p + 1], sum / static_cast<int>(odd[b].size())) << "b " << b;
      }
    }
  }
}

TEST(InterpolateColor, MapsThroughTheTablesOfEachMosaicColor) {
  const auto t = tagged_gains();
  const int w = 6, h = 4;
  std::vector<uint16_t> raw(w * h);
  for (int i = 0; i < w * h; ++i) raw[i] = static_cast<uint16_t>(i == 7 ? 9000 : 50 * i);
  std::vector<uint16_t> mapped(w * h * 3, 0);
  ucap::map_mosaic(*t, mapped.data(), raw.data(), w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int s = std::min<int>(raw[y * w + x], 4095);
      const int color = (x % 2 == 0 && y % 2 == 0) ? 1 : (x % 2 == 1 && y % 2 == 1) ? 2 : 0;
      EXPECT_EQ(mapped[3 * (y * w + x) + 1], 3 * s + color) << x << "," << y;
    }
  }
}

TEST(InterpolateColor, QualityPicksTheInterpolator) {
  const auto t = identity_gains();
  const int w = 8, h = 6;
  const std::vector<uint16_t> raw = interp_test::random_samples(w * h, 12);
  auto standard = mosaic_image(raw, w, h), high = standard;
  ucap::InterpolateStandard(w, h, standard.data());
  ucap::InterpolateHighQuality(2, w, h, high.data(), library_services());
  for (int quality : {1, 2, 7}) {
    std::vector<uint16_t> out(w * h * 3);
    ucap::InterpolateColor(*t, out.data(), raw.data(), Rect{0, 0, w, h}, quality,
                           library_services());
    EXPECT_EQ(out, quality == 1 ? standard : high) << quality;
  }
}

// Every interpolator turns a flat field into a flat image.
TEST(Interpolators, FlatFieldsGiveFlatImages) {
  const auto t = identity_gains();
  std::mt19937 rng(13);
  for (int trial = 0; trial < 30; ++trial) {
    const int w = 6 + 2 * static_cast<int>(rng() % 8), h = 6 + 2 * static_cast<int>(rng() % 6);
    const uint16_t v = trial == 0 ? 0 : trial == 1 ? 4095 : static_cast<uint16_t>(rng() % 4096);
    const std::vector<uint16_t> raw(w * h, v);
    for (int quality : {1, 2}) {
      std::vector<uint16_t> out(w * h * 3, 0xABCD);
      ucap::InterpolateColor(*t, out.data(), raw.data(), Rect{0, 0, w, h}, quality,
                             library_services());
      ASSERT_EQ(out, std::vector<uint16_t>(out.size(), v)) << "quality " << quality;
    }
    std::vector<uint16_t> blocks(w * h * 3);
    ucap::InterpolateBlocks(*t, blocks.data(), raw.data(), Rect{0, 0, w, h});
    ASSERT_EQ(blocks, std::vector<uint16_t>(blocks.size(), v));
    for (int b = 2; b <= 5; ++b) {
      const int W = w * b, out_w = 2 * ((W / b) / 2);
      const std::vector<uint16_t> wide(W * h, v);
      std::vector<uint16_t> binned(out_w * h * 3);
      ucap::InterpolateBinned(*t, binned.data(), wide.data(), Rect{0, 0, W, h}, b,
                              library_services());
      ASSERT_EQ(binned, std::vector<uint16_t>(binned.size(), v)) << "b " << b;
    }
  }
}

}  // namespace
