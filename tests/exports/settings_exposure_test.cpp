// Exposure, shutter control word, shutter delays, hardware trigger, packing and the
// blemish switch through the exports, against the virtual camera and its register trace.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "core/record.h"
#include "core/state.h"
#include "support/camera_fixture.h"
#include "ucap/ucap.h"

namespace {

using ucap_test::CameraTest;
using ucap_test::NoCameraTest;

constexpr uint32_t kShutterControl = 0x01C;
constexpr uint32_t kLevelLow = 1u << 29;
constexpr uint32_t kEnabled = 1u << 28;
constexpr uint32_t kOpenPositive = 1u << 25;
constexpr uint32_t kCloseNegative = 1u << 24;

class ExposureTest : public CameraTest {
 protected:
  // The trace line of a write of `value` to the camera's shutter control register.
  static std::string shutter_write(uint32_t value) {
    char line[32];
    std::snprintf(line, sizeof line, "W %08X %08X",
                  ucap::camera(0)->vendor_base + kShutterControl, value);
    return line;
  }
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
  static void set_busy(int32_t busy) { ucap::camera(0)->busy.store(busy); }
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
  EXPECT_EQ(UcapmGetCurrentExposure(0, nullptr), 8);
  EXPECT_EQ(UcapmGetCurrentExposure(1, &us), 3);
  EXPECT_EQ(UcapmSetExposure(1, 1000), 3);
  // Nothing reaches the camera before the next capture.
  EXPECT_EQ(trace(ids[0]), "");
}

TEST_F(ExposureTest, BusyComesBeforeTheRange) {
  set_busy(1);
  EXPECT_EQ(UcapSetExposure(1000), 10);
  EXPECT_EQ(UcapSetExposure(1), 10);
  EXPECT_EQ(UcapGetCurrentExposure(), 100000);
}

TEST_F(ExposureTest, ExposureRangeNeedsNoCamera) {
  int32_t lo = 0, hi = 0, step = 0;
  EXPECT_EQ(UcapmGetExposureRange(77, &lo, &hi, &step), 0);
  EXPECT_EQ(lo, 250);
  EXPECT_EQ(hi, 60000000);
  EXPECT_EQ(step, 250);
  EXPECT_EQ(UcapGetExposureRange(&lo, nullptr, &step), 8);
}

// ---- shutter ---------------------------------------------------------------------------------

TEST_F(ExposureTest, ShutterDelaysReachTheCamera) {
  ASSERT_EQ(UcapSetShutterDelay(1000, -500), 0);
  const std::vector<uint32_t> words = shutter_words();
  ASSERT_EQ(words.size(), 1u);
  // Shutter enabled and level 0 from the start values, open delay 4 ticks (positive),
  // close delay 2 ticks (negative).
  EXPECT_EQ(words[0], kLevelLow | kEnabled | kOpenPositive | kCloseNegative | (4u << 12) | 2u);
  int32_t open = 0, close = 0;
  ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
  EXPECT_EQ(open, 1000);
  EXPECT_EQ(close, -500);
}

TEST_F(ExposureTest, ShutterWordWithTheExactWriteOnTheBus) {
  ASSERT_EQ(UcapmSetShutterDelay(0, -1023999, 1023999), 0);
  // Quotients toward zero: -4095 and 4095; neither sign bit.
  const std::string text = trace(ids[0]);
  EXPECT_NE(text.find(shutter_write(kLevelLow | kEnabled | (4095u << 12) | 4095u)),
            std::string::npos)
      << text;
}

TEST_F(ExposureTest, DelayRangeIsCheckedForBothBeforeEither) {
  EXPECT_EQ(UcapSetShutterDelay(1024000, 0), 8);
  EXPECT_EQ(UcapSetShutterDelay(0, -1024000), 8);
  EXPECT_EQ(UcapSetShutterDelay(250, 1024000), 8);
  EXPECT_EQ(UcapSetShutterDelay(INT_MIN, 0), 8);
  int32_t open = -1, close = -1;
  ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
  EXPECT_EQ(open, 0);
  EXPECT_EQ(close, 0);
  EXPECT_TRUE(shutter_words().empty());
  ASSERT_EQ(UcapSetShutterDelay(1023999, 0), 0);
  EXPECT_EQ(shutter_words(), (std::vector<uint32_t>{kLevelLow | kEnabled | kOpenPositive |
                                                    (4095u << 12)}));
  // Below one tick the quotient is 0: no sign bit for either.
  ASSERT_EQ(UcapSetShutterDelay(249, -249), 0);
  EXPECT_EQ(shutter_words(), (std::vector<uint32_t>{kLevelLow | kEnabled}));
}

TEST_F(ExposureTest, ShutterControlSwitches) {
  ASSERT_EQ(UcapShutterControl(0, 1), 0);
  ASSERT_EQ(UcapmShutterControl(0, 5, 0), 0);  // any non-zero enable
  ASSERT_EQ(UcapSetShutterDelay(-750, 500), 0);
  EXPECT_EQ(shutter_words(),
            (std::vector<uint32_t>{0u, kLevelLow | kEnabled,
                                   kLevelLow | kEnabled | (3u << 12) | 2u}));
  EXPECT_EQ(ucap::camera(0)->shutter_enabled, 5);
  EXPECT_EQ(UcapmShutterControl(1, 1, 1), 3);
}

TEST_F(ExposureTest, BusyRefusesShutterChanges) {
  set_busy(1);
  EXPECT_EQ(UcapShutterControl(0, 1), 10);
  EXPECT_EQ(UcapSetShutterDelay(1000, 1000), 10);
  EXPECT_EQ(UcapSetShutterDelay(5000000, 0), 10);
  EXPECT_TRUE(shutter_words().empty());
  EXPECT_EQ(ucap::camera(0)->shutter_enabled, 1);
  EXPECT_EQ(ucap::camera(0)->shutter_level, 0);
}

TEST_F(ExposureTest, FailedWriteReports27AndKeepsTheNewValues) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_write=vendor+1C:1000:31"), 0);
  EXPECT_EQ(UcapSetShutterDelay(1000, -500), 27);
  int32_t open = 0, close = 0;
  ASSERT_EQ(UcapGetCurrentShutterDelay(&open, &close), 0);
  EXPECT_EQ(open, 1000);
  EXPECT_EQ(close, -500);
  EXPECT_EQ(UcapShutterControl(0, 0), 27);
  EXPECT_EQ(ucap::camera(0)->shutter_enabled, 0);
}

TEST_F(ExposureTest, FailedVendorAccessReports27) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_write=vendor+0:1000:31"), 0);
  EXPECT_EQ(UcapShutterControl(1, 1), 27);
  EXPECT_TRUE(shutter_words().empty());
}

// ---- trigger, packing, blemishes -------------------------------------------------------------

TEST_F(ExposureTest, TriggerSwitchesAreTakenEvenWhileBusy) {
  int32_t on = -1;
  ASSERT_EQ(UcapIsHardwareTriggerEnabled(&on), 0);
  EXPECT_EQ(on, 0);
  set_busy(1);
  EXPECT_EQ(UcapEnableHardwareTrigger(3), 0);
  EXPECT_EQ(UcapSetHardwareTriggerPolarity(1), 0);
  ASSERT_EQ(UcapmIsHardwareTriggerEnabled(0, &on), 0);
  EXPECT_EQ(on, 3);  // stored as given
  EXPECT_EQ(ucap::camera(0)->trigger_polarity, 1);
  EXPECT_EQ(UcapmEnableHardwareTrigger(1, 1), 3);
  EXPECT_EQ(UcapmSetHardwareTriggerPolarity(-1, 1), 3);
  EXPECT_EQ(UcapIsHardwareTriggerEnabled(nullptr), 8);
  EXPECT_EQ(trace(ids[0]), "");
}

TEST_F(ExposureTest, PackingOnACameraThatPacks) {
  EXPECT_EQ(ucap::camera(0)->packing, 1);
  EXPECT_EQ(UcapmEnablePacking(0, 0), 0);
  EXPECT_EQ(ucap::camera(0)->packing, 0);
  EXPECT_EQ(UcapmEnablePacking(0, 9), 0);
  EXPECT_EQ(ucap::camera(0)->packing, 1);
  set_busy(1);
  EXPECT_EQ(UcapmEnablePacking(0, 0), 10);
  EXPECT_EQ(ucap::camera(0)->packing, 1);
  EXPECT_EQ(UcapmEnablePacking(1, 0), 3);
}

TEST_F(ExposureTest, BlemishSwitchIsProcessWide) {
  EXPECT_EQ(ucap::state().blemish_switch.load(), 1);
  EXPECT_EQ(Ucap_corrblems(0), ucap::camera(0)->blemish_list_valid);
  EXPECT_EQ(ucap::state().blemish_switch.load(), 0);
  EXPECT_EQ(Ucapm_corrblems(0, 1), 1);  // the default camera's list is valid
  EXPECT_EQ(ucap::state().blemish_switch.load(), 1);
  // An index that names no camera still sets the switch and answers 0.
  EXPECT_EQ(Ucapm_corrblems(5, 0), 0);
  EXPECT_EQ(Ucapm_corrblems(-1, 7), 0);
  EXPECT_EQ(ucap::state().blemish_switch.load(), 7);
  // The answer is the camera's own flag.
  ucap::camera(0)->blemish_list_valid = 0;
  EXPECT_EQ(Ucap_corrblems(1), 0);
  ucap::camera(0)->blemish_list_valid = 1;
}

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

class ExposureNoCameraTest : public NoCameraTest {};

TEST_F(ExposureNoCameraTest, ChecksWithoutACamera) {
  EXPECT_EQ(UcapSetExposure(1000), 3);
  EXPECT_EQ(UcapGetCurrentExposure(), 0);
  EXPECT_EQ(UcapShutterControl(1, 0), 3);
  EXPECT_EQ(UcapSetShutterDelay(0, 0), 3);
  int32_t a = 0, b = 0, c = 0;
  EXPECT_EQ(UcapGetCurrentShutterDelay(&a, &b), 3);
  EXPECT_EQ(UcapEnableHardwareTrigger(1), 3);
  EXPECT_EQ(UcapmEnablePacking(0, 0), 3);
  EXPECT_EQ(UcapGetExposureRange(&a, &b, &c), 0);
  EXPECT_EQ(Ucap_corrblems(0), 0);
  EXPECT_EQ(ucap::state().blemish_switch.load(), 0);
  Ucap_corrblems(1);
}

}  // namespace
