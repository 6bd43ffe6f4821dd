// Exposure, shutter control word, shutter delays and packing through the exports, against
// the virtual camera and its register trace. (Trigger and blemish switches: the export
// checks.)
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "support/camera_fixture.h"
#include "ucap/ucap.h"

namespace {

using ucap_test::CameraTest;

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

// ---- exposure --------------------------------------------------------------------------------

TEST_F(ExposureTest, RangeAndStoredValue) {
  EXPECT_EQ(UcapGetCurrentExposure(), 100000);
  EXPECT_EQ(UcapSetExposure(249), 8);
  EXPECT_EQ(UcapSetExposure(-250), 8);
  EXPECT_EQ(UcapSetExposure(60000001), 8);
  EXPECT_EQ(UcapGetCurrentExposure(), 100000);
  EXPECT_EQ(UcapSetExposure(251), 0);  // not rounded to a step
  EXPECT_EQ(UcapGetCurrentExposure(), 251);
  EXPECT_EQ(UcapmSetExposure(0, 60000000), 0);
  int32_t us = 0;
  EXPECT_EQ(UcapmGetCurrentExposure(0, &us), 0);
  EXPECT_EQ(us, 60000000);
  EXPECT_EQ(UcapSetExposure(250), 0);
  // Nothing reaches the camera before the next capture.
  EXPECT_EQ(trace(ids[0]), "");
}

// ---- shutter ---------------------------------------------------------------------------------

TEST_F(ExposureTest, ShutterDelaysReachTheCameraAsTicksWithTheirSigns) {
  // Shutter enabled and level 0 from the start values; quotients toward zero.
  const struct {
    int32_t open, close;
    uint32_t word;
  } delays[] = {
      {1000, -500, kOpenPositive | kCloseNegative | (4u << 12) | 2u},
      {-1023999, 1023999, (4095u << 12) | 4095u},  // neither sign bit
      {1023999, 0, kOpenPositive | (4095u << 12)},
      {249, -249, 0},  // below one tick: no sign bit either
  };
  for (const auto& d : delays) {
    ASSERT_EQ(UcapmSetShutterDelay(0, d.open, d.close), 0) << d.open;
    EXPECT_EQ(shutter_words(), std::vector<uint32_t>{kLevelLow | kEnabled | d.word}) << d.open;
    int32_t open = 0, close = 0;
    ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
    EXPECT_EQ(open, d.open);
    EXPECT_EQ(close, d.close);
  }
  // Both are checked before either is stored; nothing is written.
  const int32_t refused[][2] = {{1024000, 0}, {0, -1024000}, {250, 1024000}, {INT_MIN, 0}};
  for (const auto& r : refused) EXPECT_EQ(UcapSetShutterDelay(r[0], r[1]), 8) << r[0] << " " << r[1];
  int32_t open = -1, close = -1;
  ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
  EXPECT_EQ(open, 249);
  EXPECT_EQ(close, -249);
  EXPECT_TRUE(shutter_words().empty());
}

TEST_F(ExposureTest, ShutterControlSwitches) {
  ASSERT_EQ(UcapShutterControl(0, 1), 0);
  ASSERT_EQ(UcapmShutterControl(0, 5, 0), 0);  // any non-zero enable
  ASSERT_EQ(UcapSetShutterDelay(-750, 500), 0);
  EXPECT_EQ(shutter_words(),
            (std::vector<uint32_t>{0u, kLevelLow | kEnabled,
                                   kLevelLow | kEnabled | (3u << 12) | 2u}));
  EXPECT_EQ(ucap::camera(0)->shutter_enabled, 5);
}

TEST_F(ExposureTest, FailedWritesReport27AndKeepTheNewValues) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_write=vendor+1C:1000:31"), 0);
  EXPECT_EQ(UcapSetShutterDelay(1000, -500), 27);
  int32_t open = 0, close = 0;
  ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
  EXPECT_EQ(open, 1000);
  EXPECT_EQ(close, -500);
  EXPECT_EQ(UcapShutterControl(0, 0), 27);
  EXPECT_EQ(ucap::camera(0)->shutter_enabled, 0);
  trace(ids[0]);
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_write=vendor+0:1000:31"), 0);  // no vendor access
  EXPECT_EQ(UcapShutterControl(1, 1), 27);
  EXPECT_TRUE(shutter_words().empty());
}

// ---- packing ---------------------------------------------------------------------------------

class NoPackingTest : public CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {"packing=0"}; }
};

TEST_F(NoPackingTest, PackingRefusedWhenModeZeroCannotPack) {
  EXPECT_EQ(UcapmEnablePacking(0, 1), 8);
  EXPECT_EQ(UcapmEnablePacking(0, 0), 0);
  EXPECT_EQ(ucap::camera(0)->packing, 0);
  EXPECT_EQ(UcapmEnablePacking(0, 1), 8);
  EXPECT_EQ(ucap::camera(0)->packing, 0);
}

}  // namespace
