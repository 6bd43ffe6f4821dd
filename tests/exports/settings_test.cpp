// Capture settings through the exports against the default virtual camera (2584 x 1936).
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
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

R current(int32_t (*get)(UcapRect*)) {
  UcapRect r{-1, -1, -1, -1};
  EXPECT_EQ(get(&r), 0);
  return of(r);
}
// The image rectangle in sensor pixels, as the capture set-up will receive it.
R sensor_rect() {
  const ucap::Rect& r = ucap::camera(0)->image_rect;
  return R{r.left, r.top, r.right, r.bottom};
}

class GeometryTest : public CameraTest {};

// Steps: setter, value, code, then resolution, depth and binning. Refused values change
// nothing; a depth change moves the binning at half resolution only (3 <-> 2, 5 <-> 4).
TEST_F(GeometryTest, ResolutionDepthAndBinningSteps) {
  const auto res = UcapSetResolution, bits = UcapSetBitsPerPixel, bin = UcapSetBinning;
  const struct {
    int32_t (*set)(int32_t);
    int32_t value, code, resolution, depth, binning;
  } steps[] = {
      {res, -1, 8, 0, 36, 1},  {res, 4, 8, 0, 36, 1},   {res, INT_MIN, 8, 0, 36, 1},
      {bits, 24, 8, 0, 36, 1}, {bits, 0, 8, 0, 36, 1},  {bin, 2, 8, 0, 36, 1},
      {res, 2, 0, 2, 36, 1},   {bin, 2, 0, 2, 36, 2},   {bin, 6, 8, 2, 36, 2},
      {bin, 0, 8, 2, 36, 2},   {bin, 1, 0, 2, 36, 1},   {res, 1, 0, 1, 36, 1},
      {bin, 3, 0, 1, 36, 3},   {bits, 12, 0, 1, 12, 2}, {bits, 36, 0, 1, 36, 3},
      {bin, 5, 0, 1, 36, 5},   {bits, 12, 0, 1, 12, 4}, {bits, 36, 0, 1, 36, 5},
      {bin, 1, 0, 1, 36, 1},   {res, 2, 0, 2, 36, 1},   {bin, 3, 0, 2, 36, 3},
      {bits, 12, 0, 2, 12, 3},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(s.set(s.value), s.code) << s.value;
    if (&s < &steps[7]) {
      EXPECT_EQ(sensor_rect(), (R{0, 0, kW, kH}));  // kept until a size request
    }
    EXPECT_EQ((R{UcapGetCurrentResolution(), UcapmGetCurrentResolution(0),
                 UcapGetCurrentBitsPerPixel(), UcapGetCurrentBinning()}),
              (R{s.resolution, s.resolution, s.depth, s.binning}))
        << s.value;
  }
  EXPECT_EQ(UcapmGetCurrentBitsPerPixel(0), 12);
  // A frame spanning the whole 32-bit range has no width that 32 bits can hold.
  const UcapRect wide{INT_MIN, 0, INT_MAX, 16};
  ASSERT_EQ(UcapSetBinning(1) + UcapSetFrameSize(&wide), 0);
  int32_t w = 0, h = 0;
  EXPECT_EQ(UcapGetCurrentDataSize(&w, &h), 8);
}

TEST_F(GeometryTest, AllowedDepthsAndFactorsFollowTheResolution) {
  // Per resolution: depths 12, 24 and 36 allowed, then binning 0..6 at depth 36 and at 12.
  const char* const rows[4] = {"001 0100000 0100000", "101 0101010 0110100", "001 0111110 0111110",
                               "100 0100000 0100000"};
  for (int32_t r = 0; r < 4; ++r) {
    ASSERT_EQ(UcapSetResolution(r), 0);
    int32_t out = -1;
    for (int32_t i = 0; i < 3; ++i)
      EXPECT_EQ(UcapHasBitsPerPixel(12 * (i + 1)), rows[r][i] - '0') << r;
    EXPECT_EQ(UcapmHasBitsPerPixel(0, 12, &out) == 0 ? out : -1, rows[r][0] - '0');
    for (int32_t bits : {36, 12}) {
      ASSERT_EQ(UcapSetBitsPerPixel(bits), 0);
      ASSERT_EQ(UcapSetBinning(1), 0);
      for (int32_t f = 0; f <= 6; ++f) {
        const int want = rows[r][(bits == 36 ? 4 : 12) + f] - '0';
        EXPECT_EQ(UcapHasBinning(f), want) << r << " " << bits << " " << f;
        EXPECT_EQ(UcapmHasBinning(0, f, &out) == 0 ? out : -1, want);
      }
    }
  }
}

// Each row sets resolution, depth and binning, requests 'i' image size, 'f' frame size or 'b'
// binning, and checks code, sensor rectangle and, where given, image, frame and data size.
TEST_F(GeometryTest, RectanglesAlignToTheModeAndAreCheckedAgainstIt) {
  const R n{-1, -1, -1, -1};  // not checked
  const UcapRect* none = nullptr;
  const UcapRect wide{0, 0, kW + 1, 100}, high{0, 0, 100, kH + 3}, whole{0, 0, kW, kH},
      negative{-5, -3, 8, 8}, frame{3, 5, 1001, 803}, odd{-5, -9, 9000, 9000},
      half{10, 10, 100, 80}, half_edge{0, 0, 646, 484}, half_beyond{0, 0, 647, 484},
      huge{INT_MIN, 0, 10, 10}, binned{5, 7, 101, 99}, binned_beyond{0, 0, 862, 10},
      binned_edge{0, 0, 861, 645}, aligned{14, 22, 1006, 810}, first{1, 2, 101, 202};
  const struct {
    int32_t resolution, bits, binning;
    char request;
    const UcapRect* rect;
    int32_t code;
    R sensor, image, frame;
    int32_t data_w, data_h;  // -1: not checked
  } steps[] = {
      // Full resolution: checked against the mode, then multiples of four (toward zero).
      {0, 36, 1, 'i', &first, 0, {0, 0, 100, 200}, {0, 0, 100, 200}, {0, 0, 100, 200}, -1, -1},
      {0, 36, 1, 'i', &wide, 8, {0, 0, 100, 200}, n, {0, 0, 100, 200}, -1, -1},
      {0, 36, 1, 'i', &high, 8, {0, 0, 100, 200}, n, n, -1, -1},
      {0, 36, 1, 'i', &whole, 0, {0, 0, kW, kH}, n, n, -1, -1},
      {0, 36, 1, 'i', &negative, 0, {-4, 0, 8, 8}, n, n, -1, -1},
      // The frame is stored as given, not checked against the sensor, and aligned for the image.
      {0, 36, 1, 'f', &frame, 0, {0, 4, 1000, 800}, n, {3, 5, 1001, 803}, -1, -1},
      {0, 36, 1, 'f', &odd, 0, {-4, -8, 9000, 9000}, n, {-5, -9, 9000, 9000}, -1, -1},
      // Half resolution: binned half pixels; 646 * 4 fits, 647 * 4 and 32-bit overflow do not.
      {1, 12, 2, 'i', &half, 0, {40, 40, 400, 320}, {10, 10, 100, 80}, {40, 40, 400, 320}, 90, 70},
      {1, 12, 2, 'i', &half_edge, 0, {0, 0, kW, kH}, n, n, -1, -1},
      {1, 12, 2, 'i', &half_beyond, 8, {0, 0, kW, kH}, n, n, -1, -1},
      {1, 12, 2, 'i', &huge, 8, {0, 0, kW, kH}, n, n, -1, -1},
      // Binned full resolution: multiples of twice the factor; 2586 > 2584; 2583 -> 2580.
      {2, 36, 3, 'i', &binned, 0, {12, 18, 300, 294}, {4, 6, 100, 98}, n, 96, 92},
      {2, 36, 3, 'i', &binned_beyond, 8, {12, 18, 300, 294}, n, n, -1, -1},
      {2, 36, 3, 'i', &binned_edge, 0, {0, 0, 2580, 1932}, n, n, -1, -1},
      // No rectangle: the reference size, aligned (multiples of 6, then of 12).
      {2, 36, 3, 'i', none, 0, {0, 0, 2580, 1932}, n, {0, 0, 2580, 1932}, -1, -1},
      {2, 36, 3, 'f', none, 0, {0, 0, 2580, 1932}, n, {0, 0, kW, kH}, -1, -1},
      {2, 36, 2, 'f', &frame, 0, {0, 0, 1000, 800}, n, n, -1, -1},  // multiples of 8
      // A binning applies the image rectangle again as frame; a refused one changes nothing.
      {2, 36, 1, 'i', &aligned, 0, {14, 22, 1006, 810}, n, n, -1, -1},
      {2, 36, 3, 'b', none, 0, {12, 12, 996, 804}, n, {14, 22, 1006, 810}, -1, -1},
      {2, 36, 7, 'b', none, 8, {12, 12, 996, 804}, n, {14, 22, 1006, 810}, -1, -1},
      {1, 36, 5, 'i', none, 0, {0, 0, 2580, 1920}, n, n, -1, -1},  // multiples of 20
  };
  int32_t resolution = 0, bits = 36, binning = 1;
  auto bring = [](int32_t& current, int32_t wanted, int32_t (*set)(int32_t)) {
    return current == wanted ? 0 : set(current = wanted);
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(testing::Message()
                 << "resolution " << s.resolution << " bits " << s.bits << " binning " << s.binning
                 << " " << s.request << " "
                 << (s.rect != nullptr ? ::testing::PrintToString(of(*s.rect)) : "none"));
    ASSERT_EQ(bring(resolution, s.resolution, UcapSetResolution), 0);
    ASSERT_EQ(bring(bits, s.bits, UcapSetBitsPerPixel), 0);
    ASSERT_EQ(s.request == 'b' ? 0 : bring(binning, s.binning, UcapSetBinning), 0);
    const int32_t code = s.request == 'i'   ? UcapSetImageSize(s.rect)
                         : s.request == 'f' ? UcapSetFrameSize(s.rect)
                                            : UcapSetBinning(s.binning);
    if (s.request == 'b' && code == 0) binning = s.binning;
    EXPECT_EQ(code, s.code);
    EXPECT_EQ(sensor_rect(), s.sensor);
    EXPECT_EQ(s.image == n ? n : current(UcapGetCurrentImageSize), s.image);
    EXPECT_EQ(s.frame == n ? n : current(UcapGetCurrentFrameSize), s.frame);
    int32_t w = -1, h = -1;
    EXPECT_EQ(s.data_w < 0 ? 0 : UcapGetCurrentDataSize(&w, &h), 0);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(s.data_w, s.data_h));
  }
}

class TwoCameraGeometryTest : public CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {"", "output=0:1300x1030 packing=0"}; }
};

// Resolution values: the sensor size, half of it at resolution 1, where a camera whose mode
// 0 puts out another size gives half of that; packing is refused where mode 0 cannot pack.
TEST_F(TwoCameraGeometryTest, EachIndexHasItsOwnSettingsAndResolutionValues) {
  ASSERT_EQ(UcapGetNumberofCameras(), 2);
  // Which of the two attached cameras is camera 1 follows the discovery order.
  const int32_t other = ucap::camera(0)->modes[0].output_width == 1300 ? 0 : 1, plain = 1 - other;
  EXPECT_EQ(UcapmEnablePacking(other, 1), 8);
  EXPECT_EQ(UcapmEnablePacking(other, 0), 0);
  EXPECT_EQ(UcapmEnablePacking(other, 1), 8);
  EXPECT_EQ(ucap::camera(other)->packing, 0);
  ASSERT_EQ(UcapmSetResolution(1, 2), 0);
  ASSERT_EQ(UcapmSetBinning(1, 4), 0);
  EXPECT_EQ(UcapmGetCurrentResolution(1), 2);
  EXPECT_EQ(UcapGetCurrentResolution(), 0);
  EXPECT_EQ(UcapGetCurrentBinning(), 1);
  ucap::camera(1)->busy.store(1);
  EXPECT_EQ(UcapmSetResolution(1, 0), 10);
  EXPECT_EQ(UcapSetResolution(1), 0);  // camera 0 is not busy
  ucap::camera(1)->busy.store(0);
  const int32_t rows[][4] = {{plain, 0, kW, kH},
                             {plain, 1, kW / 2, kH / 2},
                             {plain, 2, kW, kH},
                             {plain, 3, kW, kH},
                             {other, 1, 650, 515}};
  for (const auto& [index, resolution, rw, rh] : rows) {
    int32_t w = 0, h = 0, third = -1;
    ASSERT_EQ(index == 0 ? UcapGetResolutionValues(resolution, &w, &h, &third)
                         : UcapmGetResolutionValues(index, resolution, &w, &h, &third),
              0);
    EXPECT_EQ((R{index, w, h, third}), (R{index, rw, rh, resolution}));
  }
  int32_t w = 0, h = 0, third = 0;
  EXPECT_EQ(UcapGetResolutionValues(4, &w, &h, &third), 8);
  EXPECT_EQ(UcapGetResolutionValues(-1, &w, &h, &third), 8);
}

constexpr uint32_t kShutterControl = 0x01C;
constexpr uint32_t kLevelLow = 1u << 29;
constexpr uint32_t kEnabled = 1u << 28;
constexpr uint32_t kOpenPositive = 1u << 25;
constexpr uint32_t kCloseNegative = 1u << 24;

class ExposureTest : public CameraTest {
 protected:
  // Every value written to the shutter control register since the last call.
  std::vector<uint32_t> shutter_words() {
    const std::string text = trace(ids[0]);
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "W %08X ", ucap::camera(0)->vendor_base + kShutterControl);
    std::vector<uint32_t> words;
    size_t pos = 0;
    while ((pos = text.find(prefix, pos)) != std::string::npos) {
      words.push_back(static_cast<uint32_t>(std::stoul(text.substr(pos + 11, 8), nullptr, 16)));
      pos += 19;
    }
    return words;
  }
};

TEST_F(ExposureTest, RangeAndStoredValue) {
  for (int32_t refused : {249, -250, 60000001}) EXPECT_EQ(UcapSetExposure(refused), 8) << refused;
  EXPECT_EQ(UcapGetCurrentExposure(), 100000);
  EXPECT_EQ(UcapSetExposure(251), 0);  // not rounded to a step
  EXPECT_EQ(UcapGetCurrentExposure(), 251);
  EXPECT_EQ(UcapmSetExposure(0, 60000000), 0);
  int32_t us = 0;
  EXPECT_EQ(UcapmGetCurrentExposure(0, &us) == 0 ? us : -1, 60000000);
  EXPECT_EQ(UcapSetExposure(250), 0);
  EXPECT_EQ(trace(ids[0]), "");  // nothing reaches the camera before the next capture
}

TEST_F(ExposureTest, ShutterDelaysAndSwitchesReachTheCameraAsTicksWithTheirSigns) {
  // Enabled and level 0 from the start; quotients toward zero; below one tick no sign bit.
  const int64_t delays[][3] = {{1000, -500, kOpenPositive | kCloseNegative | (4u << 12) | 2u},
                               {-1023999, 1023999, (4095u << 12) | 4095u},
                               {1023999, 0, kOpenPositive | (4095u << 12)},
                               {249, -249, 0}};
  for (const auto& [open, close, word] : delays) {
    ASSERT_EQ(UcapmSetShutterDelay(0, static_cast<int32_t>(open), static_cast<int32_t>(close)), 0);
    EXPECT_EQ(shutter_words(),
              std::vector<uint32_t>{kLevelLow | kEnabled | static_cast<uint32_t>(word)})
        << open;
    int32_t o = 0, c = 0;
    ASSERT_EQ(UcapGetCurrentShutterDelay(&o, &c), 0);
    EXPECT_EQ(std::make_pair(o, c),
              std::make_pair(static_cast<int32_t>(open), static_cast<int32_t>(close)));
  }
  // Both are checked before either is stored; nothing is written.
  const int32_t refused[][2] = {{1024000, 0}, {0, -1024000}, {250, 1024000}, {INT_MIN, 0}};
  for (const auto& r : refused)
    EXPECT_EQ(UcapSetShutterDelay(r[0], r[1]), 8) << r[0] << " " << r[1];
  int32_t open = -1, close = -1;
  ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
  EXPECT_EQ(std::make_pair(open, close), std::make_pair(249, -249));
  EXPECT_TRUE(shutter_words().empty());
  // The control switches: off, then any non-zero enable.
  ASSERT_EQ(UcapShutterControl(0, 1), 0);
  ASSERT_EQ(UcapmShutterControl(0, 5, 0), 0);
  ASSERT_EQ(UcapSetShutterDelay(-750, 500), 0);
  EXPECT_EQ(shutter_words(), (std::vector<uint32_t>{0u, kLevelLow | kEnabled,
                                                    kLevelLow | kEnabled | (3u << 12) | 2u}));
  EXPECT_EQ(ucap::camera(0)->shutter_enabled, 5);
}

TEST_F(ExposureTest, FailedWritesReport27AndKeepTheNewValues) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_write=vendor+1C:1000:31"), 0);
  EXPECT_EQ(UcapSetShutterDelay(1000, -500), 27);
  int32_t open = 0, close = 0;
  ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
  EXPECT_EQ(std::make_pair(open, close), std::make_pair(1000, -500));
  EXPECT_EQ(UcapShutterControl(0, 0), 27);
  EXPECT_EQ(ucap::camera(0)->shutter_enabled, 0);
  trace(ids[0]);
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_write=vendor+0:1000:31"), 0);  // no vendor access
  EXPECT_EQ(UcapShutterControl(1, 1), 27);
  EXPECT_TRUE(shutter_words().empty());
}

}  // namespace
