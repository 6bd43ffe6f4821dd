// The standard (colour-ratio) interpolator.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "color/interpolation.h"
#include "interp_test_util.h"

namespace {

using interp_test::ColourMosaic;
using interp_test::MosaicImage;
using interp_test::Word;

TEST(InterpolateStandard, TheDocumentedFourByFourFrame) {
  const std::vector<uint16_t> mosaic = {1200, 800, 1000, 900, 850, 400, 700, 450,
                                        1500, 950, 1100, 600, 1000, 500, 650, 300};
  auto image = MosaicImage(mosaic, 4, 4);
  ucap::InterpolateStandard(4, 4, image.data());
  const std::vector<uint16_t> expected = {
      480, 849, 1189, 452, 800, 1120, 561, 799, 978,  632, 900, 1101,  //
      481, 850, 1190, 452, 800, 1120, 492, 700, 857,  492, 700, 857,   //
      579, 950, 1458, 579, 950, 1458, 363, 699, 1026, 312, 600, 881,   //
      609, 1000, 1535, 579, 950, 1458, 338, 650, 954, 312, 600, 881};
  EXPECT_EQ(image, expected);
}

TEST(InterpolateStandard, UniformFramesGiveGrey) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 40; ++trial) {
    const int w = 4 + 2 * static_cast<int>(rng() % 10), h = 2 + 2 * static_cast<int>(rng() % 10);
    const uint16_t v = trial == 0 ? 0 : trial == 1 ? 4095 : static_cast<uint16_t>(rng() % 4096);
    auto image = MosaicImage(std::vector<uint16_t>(w * h, v), w, h);
    ucap::InterpolateStandard(w, h, image.data());
    ASSERT_EQ(image, std::vector<uint16_t>(image.size(), v)) << w << "x" << h << " v " << v;
  }
}

TEST(InterpolateStandard, FlatColourFieldsKeepTheirColour) {
  const int w = 12, h = 8;
  auto image = MosaicImage(ColourMosaic(w, h, 2000, 1000, 500), w, h);
  ucap::InterpolateStandard(w, h, image.data());
  for (int i = 0; i < w * h; ++i) {
    ASSERT_EQ(image[3 * i], 500);
    ASSERT_EQ(image[3 * i + 1], 1000);
    ASSERT_EQ(image[3 * i + 2], 2000);
  }
}

TEST(InterpolateStandard, NoGreenGivesBlack) {
  const int w = 8, h = 6;
  auto image = MosaicImage(ColourMosaic(w, h, 3000, 0, 1200), w, h);
  ucap::InterpolateStandard(w, h, image.data());
  EXPECT_EQ(image, std::vector<uint16_t>(image.size(), 0));
}

TEST(InterpolateStandard, ColourSpikesOfOneOrTwoCellsVanish) {
  const int w = 16, h = 12;
  for (int cells : {1, 2}) {
    auto mosaic = std::vector<uint16_t>(w * h, 1000);
    for (int k = 0; k < cells; ++k) mosaic[6 * w + 6 + 2 * k] = 3000;  // red sites of one row
    auto image = MosaicImage(mosaic, w, h);
    ucap::InterpolateStandard(w, h, image.data());
    EXPECT_EQ(image, std::vector<uint16_t>(image.size(), 1000)) << cells << " cells";
  }
}

TEST(InterpolateStandard, ABandTwoCellsWideSurvives) {
  const int w = 16, h = 12;
  auto mosaic = std::vector<uint16_t>(w * h, 1000);
  for (int y = 0; y < h; y += 2) {
    mosaic[y * w + 6] = 3000;
    mosaic[y * w + 8] = 3000;
  }
  auto image = MosaicImage(mosaic, w, h);
  ucap::InterpolateStandard(w, h, image.data());
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const bool band = x >= 6 && x < 10;
      ASSERT_EQ(Word(image, w, x, y, 2), band ? 3000 : 1000) << x << "," << y;
      ASSERT_EQ(Word(image, w, x, y, 1), 1000);
      ASSERT_EQ(Word(image, w, x, y, 0), 1000);
    }
  }
}

TEST(InterpolateStandard, SizesItCannotTakeLeaveTheImageAlone) {
  for (auto [w, h] : {std::pair{2, 2}, {4, 0}, {5, 4}, {4, 3}, {-4, 2}}) {
    std::vector<uint16_t> image(64 * 3, 0x1234);
    ucap::InterpolateStandard(w, h, image.data());
    EXPECT_EQ(image, std::vector<uint16_t>(64 * 3, 0x1234)) << w << "x" << h;
  }
}

}  // namespace
