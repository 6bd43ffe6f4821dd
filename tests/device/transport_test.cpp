// Capture transport: the set-up's register writes, refused rectangles and camera reports,
// clean-up and hand-over without a set-up (every step's failure: the fault matrix).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/requests.h"
#include "support/camera_fixture.h"
#include "support/messages.h"
#include "support/trace.h"
#include "vcam/probe.h"

namespace {

using ucap::Rect;
using ucap_test::CameraTest;
using ucap_test::hex8;
using ucap_test::MessageCapture;

bool bus_is_free() {
  vcam::BusUsage u = vcam::bus_usage();
  return u.bandwidth_units == 0 && u.bandwidth_handles == 0 && u.channels == 0 && u.resources == 0;
}

class TransportTest : public CameraTest {
 protected:
  std::string w(uint32_t address, uint32_t value) {
    return "W " + hex8(address) + " " + hex8(value);
  }
  uint32_t block(int m, uint32_t offset) { return cam().modes[m].block_address + offset; }
  void TearDown() override {
    if (ucap::camera(0) != nullptr && cam().transfer_active.load() != 0) cleanup();
    CameraTest::TearDown();
  }
};

TEST_F(TransportTest, ModeTwoBinnedSetUpWritesInOrder) {
  ASSERT_EQ(setup(2, Rect{0, 0, 1296, 1028}, 2, 400), 0);
  std::vector<std::string> t = ucap_test::trace_lines(CameraTest::trace(id()), "W ");
  const uint32_t channel = cam().channel;
  std::vector<std::string> expected = {
      w(vendor(0x000), 0x0007C2A5),
      w(vendor(0x004), 0x00000FFF),    // vendor access
      w(vendor(0x144), 0x010200C0),    // binning, mode 2
      w(vendor(0x150), 0x00000000),    // position
      w(vendor(0x154), 0x05100404),    // size 1296 x 1028
      "",                              // capture control: checked below
      w(vendor(0x014), 0),             // exposure, upper part
      w(vendor(0x15C), 0x40000000),    // apply mode 2
      w(vendor(0x000), 0xFFFFFFFF),    // release access
      w(block(2, 0x010), 0x85000000),  // packed color coding
      w(block(2, 0x07C), 0x40000000),  // apply settings
      w(command(0x608), 0xE0000000),   // format 7
      w(command(0x604), 0x40000000),   // mode 2
      w(command(0x60C), (channel << 28) | 0x02000000),
      w(command(0x81C), 0x02000190),  // 400 ticks
  };
  ASSERT_EQ(t.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(i == 5 ? "" : t[i], expected[i]) << i;
  // Capture control: bit 24 cleared for a single shot (the read value comes back modified).
  EXPECT_EQ(t[5].substr(0, 10), "W " + hex8(vendor(0x030)));
  EXPECT_EQ(std::stoul(t[5].substr(11), nullptr, 16) & (1u << 24), 0u);
  EXPECT_EQ(cam().transfer_active.load(), 1);
  // The camera sums two rows for each transferred row; columns are binned by the host.
  EXPECT_EQ(cam().transferred, (Rect{0, 0, 1296, 514}));
  EXPECT_FALSE(bus_is_free());
  EXPECT_EQ(cleanup(), 0);
  EXPECT_EQ(cam().transfer_active.load(), 0);
  EXPECT_TRUE(bus_is_free());
}

TEST_F(TransportTest, ModeZeroContinuousAndUnpackedSetUp) {
  ASSERT_EQ(UcapmEnablePacking(0, 0), 0);
  // 60 s: 240000 ticks; the upper part goes to vendor 0x014, the low 12 bits to the shutter.
  ASSERT_EQ(setup(0, Rect{8, 4, 1008, 804}, 1, 240000, 0), 0);
  std::vector<std::string> t = ucap_test::trace_lines(CameraTest::trace(id()), "W ");
  ASSERT_EQ(t.size(), 15u);  // binning, position and size words: the next test
  EXPECT_NE(std::stoul(t[5].substr(11), nullptr, 16) & (1u << 24), 0u);  // continuous
  EXPECT_EQ(t[6], w(vendor(0x014), 240000 >> 12));
  EXPECT_EQ(t[7], w(vendor(0x11C), 0x40000000));
  EXPECT_EQ(t[9], w(block(0, 0x010), 0x05000000));  // packing switched off
  EXPECT_EQ(t[12], w(command(0x604), 0));
  EXPECT_EQ(t[14], w(command(0x81C), 0x02000000u | (240000u & 0xFFF)));
  // Each transferred row holds a pair of same-color sensor rows.
  EXPECT_EQ(cam().transferred, (Rect{8, 2, 1008, 402}));
}

TEST_F(TransportTest, BinningWordsForEveryFactorInBothModes) {
  for (int m : {0, 2}) {
    for (int b = 1; b <= 5; ++b) {
      const int side = 32 * b;  // a multiple of 2b, at least 16b
      SCOPED_TRACE(testing::Message() << "mode " << m << " binning " << b);
      ASSERT_EQ(setup(m, Rect{2 * b, 4 * b, 2 * b + side, 4 * b + side}, b, 400), 0);
      std::vector<std::string> t = ucap_test::trace_lines(CameraTest::trace(id()), "W ");
      ASSERT_GE(t.size(), 5u);
      const uint32_t base = (m == 0 ? 0x01000000u : 0x010000C0u) + (static_cast<uint32_t>(b) << 16);
      EXPECT_EQ(t[2], w(vendor(0x104 + 32 * m), base));
      EXPECT_EQ(t[3], w(vendor(0x110 + 32 * m), (2u * b << 16) | (4u * b)));
      EXPECT_EQ(t[4], w(vendor(0x114 + 32 * m), (uint32_t(side) << 16) | uint32_t(side)));
      EXPECT_EQ(cam().transferred.width(), side);
      EXPECT_EQ(cam().transferred.height(), m == 0 ? side / (2 * b) : side / b);
      ASSERT_EQ(cleanup(), 0);
      CameraTest::trace(id());
    }
  }
}

TEST_F(TransportTest, RectangleIsCheckedBeforeAnythingIsSent) {
  const Rect refused[] = {
      {0, 0, 14, 100},    // width below 16
      {2, 0, 1002, 100},  // left not a multiple of 2b at b = 2
      {0, 0, 2586, 100},  // beyond the sensor
      {0, 0, 100, 1938},  // below the sensor
      {-4, 0, 100, 100},  // negative
  };
  for (const Rect& r : refused) {
    EXPECT_EQ(setup(2, r, r.left == 2 ? 2 : 1, 400), 8);
    EXPECT_EQ(CameraTest::trace(id()), "");
    EXPECT_TRUE(bus_is_free());
  }
  EXPECT_EQ(setup(2, Rect{0, 0, 16, 16}, 1, 400), 0);
}

TEST_F(TransportTest, HardwareTriggerNamesTheTriggerRegisterAndCleanUpResetsIt) {
  ASSERT_EQ(UcapmEnableHardwareTrigger(0, 1), 0);
  ASSERT_EQ(UcapmSetHardwareTriggerPolarity(0, 1), 0);
  ASSERT_EQ(setup(2, Rect{0, 0, 64, 64}, 1, 400), 0);
  CameraTest::trace(id());
  ASSERT_EQ(cleanup(), 0);
  std::vector<std::string> t = ucap_test::trace_lines(CameraTest::trace(id()), "W ");
  ASSERT_EQ(t.size(), 1u);
  EXPECT_EQ(t[0], w(command(0x830), 0));
  // The capture wait set-up was refused neither with kind 3 nor its trigger register.
  set("fail_write=cmd+830:10:31");
  ASSERT_EQ(setup(2, Rect{0, 0, 64, 64}, 1, 400), 0);
  EXPECT_EQ(cleanup(), 1042);
}

// Camera reports beyond what the driver's frame buffer holds (the stages work in place in
// it), and a wait set-up the driver fails leaving the last-error code at 0.
TEST_F(TransportTest, UnbelievableReportsAndCodelessFailuresAreRefused) {
  const struct {
    const char* fault;
    int32_t code;
  } faults[] = {
      {"misreport=mode2+48:00100000", 8},  // a million packets per frame
      {"misreport=mode2+44:00000000", 8},  // no bytes per packet
      {"misreport=mode2+C:0B000100", 8},   // 2816 columns: wider than the sensor
      {"misreport=mode2+C:01000800", 8},   // 2048 rows: more than the sensor has
      {"fail_ioctl=2220F0:1:0", 21},       // used up after one request
  };
  for (const auto& f : faults) {
    set(f.fault);
    EXPECT_EQ(setup(2, Rect{0, 0, 256, 256}, 1, 400), f.code) << f.fault;
    EXPECT_EQ(cam().transfer_active.load(), 0) << f.fault;
    EXPECT_TRUE(bus_is_free()) << f.fault;
    if (f.code == 8) set(std::string(f.fault).substr(0, std::string(f.fault).find(':') + 1) + "-");
  }
  EXPECT_EQ(setup(2, Rect{0, 0, 256, 256}, 1, 400), 0);
}

TEST_F(TransportTest, CleanUpAndHandOverWithoutSetUpReportAndReturnZero) {
  MessageCapture capture;
  EXPECT_EQ(cleanup(), 0);
  EXPECT_EQ(ucap::device::hand_over(cam(), cam().frame_buffer[0]), 0);
  EXPECT_EQ(capture.lines(), (std::vector<std::string>{"cleanup error", "getbuffer error"}));
  // A set-up that failed leaves the flag at 0: its clean-up reports the same, also after
  // an earlier transfer whose resource handle is long gone.
  ASSERT_EQ(setup(2, Rect{0, 0, 64, 64}, 1, 400), 0);
  ASSERT_EQ(cleanup(), 0);
  set("fail_write=cmd+604:10:31");
  EXPECT_EQ(setup(2, Rect{0, 0, 64, 64}, 1, 400), 1040);
  EXPECT_EQ(cleanup(), 0);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"cleanup error", "getbuffer error", "cleanup error"}));
}

}  // namespace
