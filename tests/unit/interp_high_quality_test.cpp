// The high-quality interpolator: edge-directed green, line fits, borders, resampling.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "color/interpolation.h"
#include "core/reporter.h"
#include "interp_test_util.h"
#include "platform/platform.h"
#include "support/messages.h"

namespace {

using interp_test::MosaicImage;
using interp_test::Word;

TEST(FitLine, PointsOnTheDiagonalGiveSlopeOneInterceptZero) {
  uint16_t x[9], y[9];
  for (int k = 0; k < 9; ++k) x[k] = y[k] = static_cast<uint16_t>(100 * k);
  ucap::LineFit line = ucap::FitLine(x, y);
  EXPECT_DOUBLE_EQ(line.slope, 1.0);
  EXPECT_DOUBLE_EQ(line.intercept, 0.0);
  for (int k = 0; k < 9; ++k) x[k] = y[k] = 0;
  line = ucap::FitLine(x, y);
  EXPECT_DOUBLE_EQ(line.slope, 1.0);
  EXPECT_DOUBLE_EQ(line.intercept, 0.0);
}

TEST(FitLine, DropsThePointWithTheLargestResidual) {
  uint16_t x[9], y[9];
  for (int k = 0; k < 9; ++k) x[k] = y[k] = static_cast<uint16_t>(300 + 100 * k);
  y[4] = 4000;  // far off the diagonal that the anchors share
  const ucap::LineFit line = ucap::FitLine(x, y);
  EXPECT_NEAR(line.slope, 1.0, 1e-12);
  EXPECT_NEAR(line.intercept, 0.0, 1e-9);
}

TEST(FitLine, AnchorsPullALineThroughTheOrigin) {
  // Nine points of y = x / 2 and the anchors; the (4095, 4095) anchor lies furthest off and
  // is dropped, leaving the nine points and (0, 0) on y = x / 2 (up to the 1 that keeps the
  // sums of squares away from 0).
  uint16_t x[9], y[9];
  for (int k = 0; k < 9; ++k) {
    x[k] = static_cast<uint16_t>(400 * (k + 1));
    y[k] = static_cast<uint16_t>(200 * (k + 1));
  }
  const ucap::LineFit line = ucap::FitLine(x, y);
  EXPECT_NEAR(line.slope, 0.5, 1e-6);
  EXPECT_NEAR(line.intercept, 0.0, 1e-3);
}

TEST(InterpolateHighQuality, UniformMosaicsGiveThatValueEverywhere) {
  std::mt19937 rng(14);
  for (uint16_t v : {0, 1, 1000, 4095}) {
    for (int trial = 0; trial < 3; ++trial) {
      const int w = 6 + 2 * static_cast<int>(rng() % 8), h = 6 + 2 * static_cast<int>(rng() % 8);
      auto image = MosaicImage(std::vector<uint16_t>(w * h, v), w, h);
      for (size_t i = 0; i < image.size(); i += 3) {
        image[i] = static_cast<uint16_t>(rng());
        image[i + 2] = static_cast<uint16_t>(rng());
      }
      ucap::InterpolateHighQuality(2, w, h, image.data());
      ASSERT_EQ(image, std::vector<uint16_t>(image.size(), v)) << w << "x" << h << " v " << v;
    }
  }
}

TEST(InterpolateHighQuality, ARampComesOutHalfAColumnToTheLeft) {
  const int w = 20, h = 12;
  std::vector<uint16_t> mosaic(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) mosaic[y * w + x] = static_cast<uint16_t>(100 * x);
  auto image = MosaicImage(mosaic, w, h);
  ucap::InterpolateHighQuality(2, w, h, image.data());
  EXPECT_EQ(Word(image, w, 7, 5, 1), 650);
  for (int y = 4; y < h - 4; ++y) {
    for (int x = 4; x < w - 4; ++x) {
      for (int c = 0; c < 3; ++c) ASSERT_EQ(Word(image, w, x, y, c), 100 * x - 50) << x << "," << y;
    }
  }
}

TEST(InterpolateGreenHQ, AFlatNeighbourhoodGivesThePlainMean) {
  // Greens 500 everywhere; blue samples alternate 510 / 490 diagonally so that every red
  // site sees a flat neighbourhood (no gradients, diagonal mean 500) whatever its own sample.
  const int w = 10, h = 8;
  std::vector<uint16_t> mosaic(w * h, 500);
  for (int y = 0; y < h; y += 2)
    for (int x = 0; x < w; x += 2) mosaic[y * w + x] = static_cast<uint16_t>(100 * (x + y));
  for (int y = 1; y < h; y += 2)
    for (int x = 1; x < w; x += 2) mosaic[y * w + x] = ((x / 2 + y / 2) % 2 == 0) ? 510 : 490;
  auto image = interp_test::SeededImage(mosaic, w, h);
  ucap::InterpolateGreenHQ(w, h, image.data());
  for (int y = 2; y < h - 1; y += 2)
    for (int x = 2; x < w - 2; x += 2) EXPECT_EQ(Word(image, w, x, y, 1), 500) << x << "," << y;
}

TEST(InterpolateHighQuality, EdgesKeepGreenAtTheSideOfSmallerVariation) {
  // A vertical edge: columns left of it 200, right of it 3000. Green at a red or blue site
  // next to the edge follows the vertical neighbours (same side), not the mean across.
  const int w = 16, h = 12;
  std::vector<uint16_t> mosaic(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) mosaic[y * w + x] = x < 8 ? 200 : 3000;
  auto image = interp_test::SeededImage(mosaic, w, h);
  ucap::InterpolateGreenHQ(w, h, image.data());
  for (int y = 2; y < h - 2; y += 2) {
    EXPECT_NEAR(Word(image, w, 8, y, 1), 3000, 30) << y;      // red site right of the edge
    EXPECT_NEAR(Word(image, w, 7, y + 1, 1), 200, 30) << y;   // blue site left of it
  }
}

TEST(InterpolateHighQuality, ResultsStayInTheTwelveBitRange) {
  std::mt19937 rng(15);
  for (int trial = 0; trial < 20; ++trial) {
    const int w = 6 + 2 * static_cast<int>(rng() % 10), h = 6 + 2 * static_cast<int>(rng() % 10);
    std::vector<uint16_t> mosaic(w * h);
    for (auto& v : mosaic) v = (rng() % 2) ? 4095 : static_cast<uint16_t>(rng() % 64);
    auto image = MosaicImage(mosaic, w, h);
    ucap::InterpolateHighQuality(2, w, h, image.data());
    for (uint16_t v : image) ASSERT_LE(v, 4095);
  }
}

TEST(AssembleSingle, InterpolatesHalfAPixelUpAndLeft) {
  // Plane p(r, c) = 16 * (3c + 5r) + 40: linear, so the result is the plane at
  // (r - 1/2, c - 1/2) wherever no border replacement is involved.
  const int w = 8, h = 7;
  std::vector<uint16_t> image(w * h * 3, 0);
  for (int r = 0; r < h; ++r)
    for (int c = 0; c < w; ++c) image[(r * w + c) * 3 + 2] = static_cast<uint16_t>(16 * (3 * c + 5 * r) + 40);
  ucap::AssembleSingle(2, w, h, image.data());
  for (int r = 2; r < h - 1; ++r)
    for (int c = 2; c < w - 1; ++c)
      EXPECT_EQ(Word(image, w, c, r, 2), 16 * (3 * c + 5 * r) + 40 - 8 * 3 - 8 * 5) << c << "," << r;
  for (int i = 0; i < w * h; ++i) {
    EXPECT_EQ(image[3 * i], 0);
    EXPECT_EQ(image[3 * i + 1], 0);
  }
}

TEST(AssembleSingle, AMissingTemporaryPlaneIsReportedAndTheOtherPlanesGoOn) {
  const int w = 6, h = 6;
  std::vector<uint16_t> image(w * h * 3);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint16_t>(i % 4096);
  const auto before = image;
  ucap_test::MessageCapture capture;
  ucap::platform::testing::fail_work_allocations(1);
  ucap::AssembleSingle(2, w, h, image.data());
  EXPECT_EQ(image, before);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0], ucap::msg::kAssembleSingleMemory);
  ucap::AssembleSingle(2, w, h, image.data());
  EXPECT_NE(image, before);
  EXPECT_EQ(capture.lines().size(), 1u);
}

TEST(InterpolateHighQuality, SizesBelowSixOrOddLeaveTheImage) {
  for (auto [w, h] : {std::pair{4, 6}, {6, 4}, {7, 6}, {6, 7}}) {
    std::vector<uint16_t> image(64 * 3, 0x2222);
    ucap::InterpolateHighQuality(2, w, h, image.data());
    ucap::InterpolateGreenHQ(w, h, image.data());
    EXPECT_EQ(image, std::vector<uint16_t>(64 * 3, 0x2222)) << w << "x" << h;
  }
}

}  // namespace
