// Smear correction, half-resolution assembly and the color matrix.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <vector>

#include "acquisition/frame_stages.h"
#include "calibration/color_tables.h"
#include "interp_test_util.h"

namespace {

using ucap::Rect;

std::unique_ptr<ucap::ColorTables> identity_tables() {
  auto t = interp_test::identity_gains();
  const double none[3] = {0.0, 0.0, 0.0};
  double matrix[9];
  ucap::build_color_matrix(none, matrix);
  ucap::build_term_tables(matrix, *t);
  ucap::fill_output_table(*t);
  return t;
}

TEST(EstimateSmear, IsTheLeastSquaresRatioOfTheGreenDifferenceToTheSignalAbove) {
  // Row 0: (4000, 999); row 1: (1000, -). a = 3968, difference 1000 - 999.
  const std::vector<uint16_t> image = {4000, 999, 1000, 0};
  EXPECT_DOUBLE_EQ(ucap::EstimateSmear(image.data(), 2, 2), 1.0 / 3968);
  EXPECT_EQ(ucap::EstimateSmear(image.data(), 2, 1), 0.0);
  // The same cell in a frame of the widest sensor, every other sample at the black level.
  std::vector<uint16_t> wide(2 * ucap::kMaxSensorWidth, 32);
  std::copy(image.begin(), image.begin() + 2, wide.begin());
  wide[ucap::kMaxSensorWidth] = 1000;
  EXPECT_DOUBLE_EQ(ucap::EstimateSmear(wide.data(), ucap::kMaxSensorWidth, 2), 1.0 / 3968);
}

TEST(CorrectSmear, LargeEstimatesAreLimitedToOneTenThousandth) {
  // k = 1 / 3968 is limited to 1e-4: the row-1 pixel loses less than half a count.
  std::vector<uint16_t> image = {4000, 999, 1000, 0};
  ucap::CorrectSmear(image.data(), 2, 2);
  EXPECT_EQ(image, (std::vector<uint16_t>{4000, 999, 1000, 0}));
  // Down a tall bright column the correction grows; row 0 and odd columns never change.
  const int W = 2, H = 200;
  std::vector<uint16_t> column(W * H);
  for (int y = 0; y < H; ++y) column[y * W] = 4000, column[y * W + 1] = 3000;
  const auto before = column;
  ASSERT_GT(ucap::EstimateSmear(column.data(), W, H), 1e-4);
  ucap::CorrectSmear(column.data(), W, H);
  EXPECT_EQ(column[0], 4000);
  for (int y = 0; y < H; ++y) EXPECT_EQ(column[y * W + 1], before[y * W + 1]);
  for (int y = 2; y < H; ++y) EXPECT_LE(column[y * W], column[(y - 1) * W]);
  // After y rows of about 3968 counts each the pixel loses about y * 3968 / 10000.
  EXPECT_NEAR(column[(H - 1) * W], 4000 - (H - 1) * 3968 / 10000.0, 3.0);
}

TEST(CorrectSmear, EstimatesBelowOneHundredMillionthAreIgnored) {
  // Upper-right greens one count lower on 40 % of the rows (k ~ 5e-9) or all (k ~ 1.2e-8).
  const int W = 2, H = 30000;
  auto column = [&](int of_ten) {
    std::vector<uint16_t> image(W * H, 4095);
    for (int y = 1; y < H; y += 2)
      if ((y / 2) % 10 < of_ten) image[(y - 1) * W + 1] = 4094;
    return image;
  };
  auto small = column(4);
  ASSERT_NEAR(ucap::EstimateSmear(small.data(), W, H), 5e-9, 1e-9);
  const auto before = small;
  ucap::CorrectSmear(small.data(), W, H);
  EXPECT_EQ(small, before);
  auto large = column(10);
  ASSERT_GT(ucap::EstimateSmear(large.data(), W, H), 1e-8);
  ucap::CorrectSmear(large.data(), W, H);
  EXPECT_LT(large[(H - 1) * W], 4095);
}

TEST(CorrectSmear, TakesTheDivisorOfTheRoundedEstimate) {
  // Nothing below 1e-8, limited to 1e-4, 1 / k truncated; leaks of either sign, beyond the
  // limit, past 2048 rows and with sums too large for the exact path.
  auto divisor_of = [](double k) -> int64_t {
    if (k == 0.0 || std::abs(k) < 1e-8) return 0;
    return static_cast<int64_t>(1.0 / std::clamp(k, -1e-4, 1e-4));
  };
  const struct {
    int w, h;
    double leak;
    int level;
  } cases[] = {{2, 2, 0.0, 100},        {7, 5, 1e-3, 900},       {64, 48, 0.0, 2000},
               {64, 48, 2e-5, 2000},    {64, 48, -2e-5, 2000},   {2584, 40, 3e-6, 3000},
               {130, 2048, 1e-8, 2500}, {130, 2048, 4e-7, 2500}, {131, 2050, 4e-7, 2500},
               {6, 2048, 1e-6, 60000},  {64, 48, 1e-7, 40}};
  uint32_t state = 7;
  for (const auto& c : cases) {
    std::vector<uint16_t> image(static_cast<size_t>(c.w) * c.h);
    for (int x = 0; x < c.w; ++x) {
      double above = 0.0;
      for (int y = 0; y < c.h; ++y) {
        state = state * 1664525u + 1013904223u;
        const double signal = c.level + static_cast<int>(state >> 26) - 32 + (x * 7 + y) % 50;
        const double leaked = x % 2 == 0 ? signal + c.leak * above : signal;
        image[static_cast<size_t>(y) * c.w + x] =
            static_cast<uint16_t>(std::clamp(leaked, 0.0, 65535.0));
        above += signal;
      }
    }
    const int64_t expected = divisor_of(ucap::EstimateSmear(image.data(), c.w, c.h));
    EXPECT_EQ(ucap::smear_divisor(image.data(), c.w, c.h), expected)
        << c.w << " x " << c.h << " leak " << c.leak;
    if (c.leak != 0.0 && c.h > 2) {
      EXPECT_NE(expected, 0) << c.w << " x " << c.h;
    }
  }
}

TEST(AssembleHalfColor, GoesThroughTheChannelGainTables) {
  auto t = identity_tables();
  for (int i = 0; i < ucap::kTableSize; ++i) {
    t->gain[ucap::kRed][i] = static_cast<uint16_t>(i / 2);
    t->gain[ucap::kBlue][i] = static_cast<uint16_t>(4095 - i);
  }
  const std::vector<uint16_t> in = {1000, 500, 250, 800};
  std::vector<uint16_t> out(6);
  ucap::AssembleHalfColor(*t, out.data(), in.data(), 1, Rect{0, 0, 2, 2});
  EXPECT_EQ(out, (std::vector<uint16_t>{4095 - 1600, 500, 500, 4095 - 800, 250, 250}));
}

TEST(AssembleHalfColor, FlatFieldsStayFlatAndPartialBlocksAndAnOddLastRowAreNotWritten) {
  const auto t = identity_tables();
  for (int b : {1, 3, 5}) {
    for (uint16_t v : {0, 32, 700, 4095}) {
      // Two blocks, the first with a next-block column, two columns left over; row 4 unpaired.
      const int W = 4 * b + 2, H = 5;
      const std::vector<uint16_t> in(W * H, v);
      const int Q = W / (2 * b);
      std::vector<uint16_t> out(3 * Q * H, 0xEEEE);
      ucap::AssembleHalfColor(*t, out.data(), in.data(), b, Rect{0, 0, W, H});
      // A flat field below the black level comes out dark: the divisor is at least 32.
      std::vector<uint16_t> expected(3 * Q * H, 0xEEEE);
      std::fill(expected.begin(), expected.begin() + 3 * Q * 4, v < 32 ? 0 : v);
      EXPECT_EQ(out, expected) << "b = " << b << " v = " << v;
    }
  }
}

TEST(AssembleHalfMono, RoundsTheMeanOfTwoBWords) {
  const std::vector<uint16_t> rows[] = {{1, 2, 3, 4, 3}, {5000, 5000, 4095}, {1, 2, 2}};
  for (const auto& r : rows) {  // words, then the mean: (10 + 2) / 4, clamped, 1.5 rounds up
    uint16_t out = 0;
    const int n = static_cast<int>(r.size()) - 1;
    ucap::AssembleHalfMono(&out, r.data(), n / 2, Rect{0, 0, n, 1});
    EXPECT_EQ(out, r.back()) << r[0];
  }
}

TEST(grey_from_color, WeighsGreenTwiceAndRounds) {
  const std::vector<uint16_t> pixels = {100, 200, 300, 1, 1, 0, 4095, 4095, 4095};
  std::vector<uint16_t> grey(3);
  ucap::grey_from_color(grey.data(), pixels.data(), 3);
  EXPECT_EQ(grey, (std::vector<uint16_t>{200, 1, 4095}));  // (3 + 2) >> 2 = 1
}

TEST(ApplyColorMatrix, UsesTheOldValuesOfAllThreeWordsAndGivesFullScaleForLargeSums) {
  auto t = identity_tables();
  // Swap red and blue: new red = old blue, new blue = old red.
  const double swap[9] = {0, 0, 1, 0, 1, 0, 1, 0, 0};
  ucap::build_term_tables(swap, *t);
  std::vector<uint16_t> px = {100, 200, 300};
  ucap::ApplyColorMatrix(*t, 1, px.data(), 1);
  EXPECT_EQ(px, (std::vector<uint16_t>{300, 200, 100}));
  // Sums past the output table and oversized values.
  const double fourfold[9] = {4, 0, 0, 0, 4, 0, 0, 0, 4};  // red row sum up to 28668
  ucap::build_term_tables(fourfold, *t);
  px = {0, 0, 4095, 0, 0, 60000};
  ucap::ApplyColorMatrix(*t, 1, px.data(), 2);
  EXPECT_EQ(px, (std::vector<uint16_t>{px[0], px[1], 4095, px[0], px[1], 4095}));
}

}  // namespace
