// Resolution, pixel depth, binning, image and frame rectangles and data size through the
// exports, against the default virtual camera (2584 x 1936, modes 0 and 2 at sensor size).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <string>
#include <vector>

#include "support/camera_fixture.h"
#include "ucap/ucap.h"

namespace {

using ucap_test::CameraTest;

constexpr int32_t kW = 2584;
constexpr int32_t kH = 1936;

// Rectangles compared and printed as their four values.
using R = std::array<int32_t, 4>;
R of(const UcapRect& r) { return R{r.left, r.top, r.right, r.bottom}; }

R image_size() {
  UcapRect r{-1, -1, -1, -1};
  EXPECT_EQ(UcapGetCurrentImageSize(&r), 0);
  return of(r);
}
R frame_size() {
  UcapRect r{-1, -1, -1, -1};
  EXPECT_EQ(UcapGetCurrentFrameSize(&r), 0);
  return of(r);
}
// The image rectangle in sensor pixels, as the capture set-up will receive it.
R sensor_rect() {
  const ucap::Rect& r = ucap::camera(0)->image_rect;
  return R{r.left, r.top, r.right, r.bottom};
}
void set_busy(int32_t index, int32_t busy) { ucap::camera(index)->busy.store(busy); }

class GeometryTest : public CameraTest {};

// ---- resolution, depth, binning ---------------------------------------------------------

TEST_F(GeometryTest, ResolutionRangeIsCheckedUnsigned) {
  EXPECT_EQ(UcapSetResolution(-1), 8);
  EXPECT_EQ(UcapSetResolution(4), 8);
  EXPECT_EQ(UcapSetResolution(INT_MIN), 8);
  EXPECT_EQ(UcapGetCurrentResolution(), 0);
  EXPECT_EQ(UcapSetResolution(3), 0);
  EXPECT_EQ(UcapmGetCurrentResolution(0), 3);
  // The rectangles keep their values until the next size request.
  EXPECT_EQ(sensor_rect(), (R{0, 0, kW, kH}));
}

TEST_F(GeometryTest, resolution_values) {
  int32_t w = 0, h = 0, third = -1;
  ASSERT_EQ(UcapGetResolutionValues(0, &w, &h, &third), 0);
  EXPECT_EQ(w, kW);
  EXPECT_EQ(h, kH);
  EXPECT_EQ(third, 0);
  ASSERT_EQ(UcapGetResolutionValues(1, &w, &h, &third), 0);
  EXPECT_EQ(w, kW / 2);
  EXPECT_EQ(h, kH / 2);
  EXPECT_EQ(third, 1);
  for (int32_t r : {2, 3}) {
    ASSERT_EQ(UcapmGetResolutionValues(0, r, &w, &h, &third), 0);
    EXPECT_EQ(w, kW);
    EXPECT_EQ(h, kH);
    EXPECT_EQ(third, r);
  }
  EXPECT_EQ(UcapGetResolutionValues(4, &w, &h, &third), 8);
  EXPECT_EQ(UcapGetResolutionValues(-1, &w, &h, &third), 8);
}

TEST_F(GeometryTest, AllowedDepthsAndFactorsFollowTheResolution) {
  // Rows: resolution; columns: bits 12, 36.
  const int expected_bits[4][2] = {{0, 1}, {1, 1}, {0, 1}, {1, 0}};
  // Binning factors 0..6 allowed per resolution and depth (36 then 12).
  const std::vector<int> factors36[4] = {{1}, {1, 3, 5}, {1, 2, 3, 4, 5}, {1}};
  const std::vector<int> factors12[4] = {{1}, {1, 2, 4}, {1, 2, 3, 4, 5}, {1}};
  for (int32_t r = 0; r < 4; ++r) {
    ASSERT_EQ(UcapSetResolution(r), 0);
    EXPECT_EQ(UcapHasBitsPerPixel(12), expected_bits[r][0]) << r;
    EXPECT_EQ(UcapHasBitsPerPixel(36), expected_bits[r][1]) << r;
    EXPECT_EQ(UcapHasBitsPerPixel(24), 0) << r;
    int32_t out = -1;
    EXPECT_EQ(UcapmHasBitsPerPixel(0, 12, &out), 0);
    EXPECT_EQ(out, expected_bits[r][0]);
    for (int32_t bits : {36, 12}) {
      ASSERT_EQ(UcapSetBitsPerPixel(bits), 0);
      ASSERT_EQ(UcapSetBinning(1), 0);
      const std::vector<int>& allowed = bits == 36 ? factors36[r] : factors12[r];
      for (int32_t f = 0; f <= 6; ++f) {
        const int want = std::find(allowed.begin(), allowed.end(), f) != allowed.end() ? 1 : 0;
        EXPECT_EQ(UcapHasBinning(f), want) << r << " " << bits << " " << f;
        EXPECT_EQ(UcapmHasBinning(0, f, &out), 0);
        EXPECT_EQ(out, want);
      }
    }
  }
}

TEST_F(GeometryTest, DepthChangeMovesBinningAtHalfResolution) {
  ASSERT_EQ(UcapSetResolution(1), 0);
  ASSERT_EQ(UcapSetBinning(3), 0);
  ASSERT_EQ(UcapSetBitsPerPixel(12), 0);
  EXPECT_EQ(UcapGetCurrentBinning(), 2);
  ASSERT_EQ(UcapSetBitsPerPixel(36), 0);
  EXPECT_EQ(UcapGetCurrentBinning(), 3);
  ASSERT_EQ(UcapSetBinning(5), 0);
  ASSERT_EQ(UcapSetBitsPerPixel(12), 0);
  EXPECT_EQ(UcapGetCurrentBinning(), 4);
  EXPECT_EQ(UcapGetCurrentBitsPerPixel(), 12);
  ASSERT_EQ(UcapSetBitsPerPixel(36), 0);
  EXPECT_EQ(UcapGetCurrentBinning(), 5);
  // Elsewhere the depth leaves binning alone, and is not checked against the resolution.
  ASSERT_EQ(UcapSetResolution(2), 0);
  ASSERT_EQ(UcapSetBinning(3), 0);
  ASSERT_EQ(UcapSetBitsPerPixel(12), 0);
  EXPECT_EQ(UcapGetCurrentBinning(), 3);
  EXPECT_EQ(UcapmGetCurrentBitsPerPixel(0), 12);
}

TEST_F(GeometryTest, DepthAndBinningRefusals) {
  EXPECT_EQ(UcapSetBitsPerPixel(24), 8);
  EXPECT_EQ(UcapSetBitsPerPixel(0), 8);
  EXPECT_EQ(UcapSetBinning(2), 8);  // resolution 0 takes 1 only
  ASSERT_EQ(UcapSetResolution(2), 0);
  EXPECT_EQ(UcapSetBinning(2), 0);
  EXPECT_EQ(UcapSetBinning(6), 8);
  EXPECT_EQ(UcapSetBinning(0), 8);
  EXPECT_EQ(UcapGetCurrentBinning(), 2);
}

// ---- image size, frame, data size ---------------------------------------------------------

TEST_F(GeometryTest, ImageSizeAtFullResolutionAlignsToFour) {
  const UcapRect request{1, 2, 101, 202};
  ASSERT_EQ(UcapSetImageSize(&request), 0);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 100, 200}));
  EXPECT_EQ(frame_size(), (R{0, 0, 100, 200}));
  EXPECT_EQ(image_size(), (R{0, 0, 100, 200}));
  // The caller's values are checked against the mode size before alignment.
  const UcapRect too_wide{0, 0, kW + 1, 100};
  EXPECT_EQ(UcapSetImageSize(&too_wide), 8);
  const UcapRect too_high{0, 0, 100, kH + 3};
  EXPECT_EQ(UcapSetImageSize(&too_high), 8);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 100, 200}));
  EXPECT_EQ(frame_size(), (R{0, 0, 100, 200}));
  const UcapRect whole{0, 0, kW, kH};
  EXPECT_EQ(UcapSetImageSize(&whole), 0);
  // Negative values are truncated toward zero.
  const UcapRect negative{-5, -3, 8, 8};
  ASSERT_EQ(UcapSetImageSize(&negative), 0);
  EXPECT_EQ(sensor_rect(), (R{-4, 0, 8, 8}));
}

TEST_F(GeometryTest, ImageSizeAtHalfResolutionIsInBinnedHalfPixels) {
  ASSERT_EQ(UcapSetResolution(1), 0);
  ASSERT_EQ(UcapSetBitsPerPixel(12), 0);
  ASSERT_EQ(UcapSetBinning(2), 0);
  const UcapRect request{10, 10, 100, 80};
  ASSERT_EQ(UcapSetImageSize(&request), 0);
  EXPECT_EQ(sensor_rect(), (R{40, 40, 400, 320}));
  EXPECT_EQ(frame_size(), (R{40, 40, 400, 320}));
  EXPECT_EQ(image_size(), (R{10, 10, 100, 80}));
  int32_t w = 0, h = 0;
  ASSERT_EQ(UcapGetCurrentDataSize(&w, &h), 0);
  EXPECT_EQ(w, 90);
  EXPECT_EQ(h, 70);
  // 646 * 4 = 2584 fits, 647 * 4 does not.
  const UcapRect edge{0, 0, 646, 484};
  EXPECT_EQ(UcapSetImageSize(&edge), 0);
  const UcapRect beyond{0, 0, 647, 484};
  EXPECT_EQ(UcapSetImageSize(&beyond), 8);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 2584, 1936}));
  // Products beyond 32 bits are refused, not wrapped.
  const UcapRect huge{INT_MIN, 0, 10, 10};
  EXPECT_EQ(UcapSetImageSize(&huge), 8);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 2584, 1936}));
}

TEST_F(GeometryTest, ImageSizeAtBinnedFullResolutionAlignsToTwiceTheFactor) {
  ASSERT_EQ(UcapSetResolution(2), 0);
  ASSERT_EQ(UcapSetBinning(3), 0);
  const UcapRect request{5, 7, 101, 99};
  ASSERT_EQ(UcapSetImageSize(&request), 0);
  // 15 -> 12, 21 -> 18, 303 -> 300, 297 -> 294.
  EXPECT_EQ(sensor_rect(), (R{12, 18, 300, 294}));
  EXPECT_EQ(image_size(), (R{4, 6, 100, 98}));
  int32_t w = 0, h = 0;
  ASSERT_EQ(UcapmGetCurrentDataSize(0, &w, &h), 0);
  EXPECT_EQ(w, 96);
  EXPECT_EQ(h, 92);
  const UcapRect beyond{0, 0, 862, 10};  // 2586 > 2584
  EXPECT_EQ(UcapSetImageSize(&beyond), 8);
  const UcapRect edge{0, 0, 861, 645};  // 2583 -> 2580, 1935 -> 1932
  ASSERT_EQ(UcapSetImageSize(&edge), 0);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 2580, 1932}));
}

TEST_F(GeometryTest, NullRectanglesTakeTheReferenceSize) {
  ASSERT_EQ(UcapSetResolution(2), 0);
  ASSERT_EQ(UcapSetBinning(3), 0);
  ASSERT_EQ(UcapSetImageSize(nullptr), 0);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 2580, 1932}));  // multiples of 6
  EXPECT_EQ(frame_size(), (R{0, 0, 2580, 1932}));
  ASSERT_EQ(UcapSetFrameSize(nullptr), 0);
  EXPECT_EQ(frame_size(), (R{0, 0, kW, kH}));
  EXPECT_EQ(sensor_rect(), (R{0, 0, 2580, 1932}));  // multiples of 12
  ASSERT_EQ(UcapSetResolution(1), 0);
  ASSERT_EQ(UcapSetBinning(5), 0);
  ASSERT_EQ(UcapSetImageSize(nullptr), 0);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 2580, 1920}));  // multiples of 20
}

TEST_F(GeometryTest, FrameSizeIsStoredAsGivenAndAlignedForTheImage) {
  const UcapRect request{3, 5, 1001, 803};
  ASSERT_EQ(UcapSetFrameSize(&request), 0);
  EXPECT_EQ(frame_size(), of(request));
  EXPECT_EQ(sensor_rect(), (R{0, 4, 1000, 800}));
  // No check against the sensor here; negative values truncate toward zero.
  const UcapRect odd{-5, -9, 9000, 9000};
  ASSERT_EQ(UcapmSetFrameSize(0, &odd), 0);
  EXPECT_EQ(frame_size(), of(odd));
  EXPECT_EQ(sensor_rect(), (R{-4, -8, 9000, 9000}));
  ASSERT_EQ(UcapSetResolution(2), 0);
  ASSERT_EQ(UcapSetBinning(2), 0);
  ASSERT_EQ(UcapSetFrameSize(&request), 0);
  EXPECT_EQ(sensor_rect(), (R{0, 0, 1000, 800}));  // multiples of 8
}

TEST_F(GeometryTest, BinningReappliesTheImageRectangleAsFrame) {
  ASSERT_EQ(UcapSetResolution(2), 0);
  const UcapRect request{14, 22, 1006, 810};
  ASSERT_EQ(UcapSetImageSize(&request), 0);  // binning 1: multiples of 2
  ASSERT_EQ(sensor_rect(), (R{14, 22, 1006, 810}));
  ASSERT_EQ(UcapSetBinning(3), 0);
  EXPECT_EQ(frame_size(), (R{14, 22, 1006, 810}));
  EXPECT_EQ(sensor_rect(), (R{12, 12, 996, 804}));  // multiples of 12
  // Refused binning changes nothing.
  EXPECT_EQ(UcapSetBinning(7), 8);
  EXPECT_EQ(frame_size(), (R{14, 22, 1006, 810}));
}

TEST_F(GeometryTest, DataSizeBeyondThirtyTwoBitsIsRefused) {
  // A frame spanning the whole 32-bit range has no width that 32 bits can hold.
  const UcapRect wide{INT_MIN, 0, INT_MAX, 16};
  ASSERT_EQ(UcapSetFrameSize(&wide), 0);
  int32_t w = 0, h = 0;
  EXPECT_EQ(UcapGetCurrentDataSize(&w, &h), 8);
}

// ---- two cameras -------------------------------------------------------------------------------

class TwoCameraGeometryTest : public CameraTest {
 protected:
  std::vector<std::string> cameras() const override {
    return {"", "output=0:1300x1030"};
  }
};

TEST_F(TwoCameraGeometryTest, EachIndexHasItsOwnSettings) {
  ASSERT_EQ(UcapGetNumberofCameras(), 2);
  ASSERT_EQ(UcapmSetResolution(1, 2), 0);
  ASSERT_EQ(UcapmSetBinning(1, 4), 0);
  EXPECT_EQ(UcapmGetCurrentResolution(1), 2);
  EXPECT_EQ(UcapGetCurrentResolution(), 0);
  EXPECT_EQ(UcapGetCurrentBinning(), 1);
  set_busy(1, 1);
  EXPECT_EQ(UcapmSetResolution(1, 0), 10);
  EXPECT_EQ(UcapSetResolution(1), 0);  // camera 0 is not busy
}

TEST_F(TwoCameraGeometryTest, HalfResolutionValuesComeFromModeZero) {
  // Which of the two attached cameras is camera 1 follows the discovery order.
  const int32_t index = ucap::camera(0)->modes[0].output_width == 1300 ? 0 : 1;
  int32_t w = 0, h = 0, third = 0;
  ASSERT_EQ(UcapmGetResolutionValues(index, 1, &w, &h, &third), 0);
  EXPECT_EQ(w, 650);
  EXPECT_EQ(h, 515);
  EXPECT_EQ(third, 1);
}

}  // namespace
