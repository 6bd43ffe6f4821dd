// The block interpolator and the two interpolation entries (unbinned and binned).
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "color/interpolation.h"
#include "flow/stage_adapters.h"
#include "interp_test_util.h"

namespace {

using ucap::library_services;
using interp_test::identity_gains;
using interp_test::mosaic_image;
using interp_test::Word;
using ucap::Rect;

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
  std::vector<uint16_t> expected = {  // blue, green, red, before the tables
      87,  48,  10,  87,  59,  32,  109, 70,  32,  109, 81,  54,  131, 92,  54,  131, 65,  54,
      87,  114, 142, 87,  125, 164, 109, 136, 164, 109, 147, 186, 131, 158, 186, 131, 197, 186,
      219, 180, 142, 219, 191, 164, 241, 202, 164, 241, 213, 186, 263, 224, 186, 263, 197, 186,
      219, 208, 142, 219, 230, 164, 241, 230, 164, 241, 252, 186, 263, 252, 186, 263, 224, 186};
  const int tag[3] = {2, 0, 1};  // blue 3x + 2, green 3x, red 3x + 1
  for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<uint16_t>(3 * expected[i] + tag[i % 3]);
  EXPECT_EQ(out, expected);
}

TEST(bin_columns, WindowsFollowTheTableForEveryBinning) {
  // Columns averaged, relative to q = 2bp: even output column, odd output column of a
  // pair that is not the last.
  const std::vector<std::vector<int>> even = {
      {}, {}, {0, 2}, {0, 2, 4}, {0, 2, 4, 6}, {0, 2, 4, 6, 8}};
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
      EXPECT_EQ(Word(mapped, w, x, y, 1), 3 * s + color) << x << "," << y;
    }
  }
}

TEST(InterpolateColor, QualityPicksTheInterpolator) {
  const auto t = identity_gains();
  const int w = 8, h = 6;
  const std::vector<uint16_t> raw = interp_test::random_samples(w * h, 12);
  std::vector<uint16_t> standard(w * h * 3), high(w * h * 3), higher(w * h * 3);
  ucap::InterpolateColor(*t, standard.data(), raw.data(), Rect{0, 0, w, h}, 1, library_services());
  ucap::InterpolateColor(*t, high.data(), raw.data(), Rect{0, 0, w, h}, 2, library_services());
  ucap::InterpolateColor(*t, higher.data(), raw.data(), Rect{0, 0, w, h}, 7, library_services());
  auto expected = mosaic_image(raw, w, h);
  ucap::InterpolateStandard(w, h, expected.data());
  EXPECT_EQ(standard, expected);
  expected = mosaic_image(raw, w, h);
  ucap::InterpolateHighQuality(2, w, h, expected.data(), library_services());
  EXPECT_EQ(high, expected);
  EXPECT_EQ(higher, expected);
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
