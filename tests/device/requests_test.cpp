// Driver requests from the camera's side: retries, lapsed vendor access, command polling,
// and the code of each failing start-up step.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "device/requests.h"
#include "support/camera_fixture.h"
#include "support/messages.h"
#include "support/trace.h"
#include "vcam/probe.h"

namespace {

using ucap_test::CameraTest;
using ucap_test::hex8;
using ucap_test::MessageCapture;
using ucap_test::NoCameraTest;

using RequestTest = CameraTest;

TEST_F(RequestTest, ReadRetriesTwiceThenReportsTheThirdCode) {
  const uint32_t address = ucap::device::kRomUniqueIdLow;
  uint32_t value = 0;
  set("fail_read=" + hex8(address) + ":2:121");
  EXPECT_EQ(ucap::device::quadlet_read(cam(), address, &value), 0u);  // third attempt succeeds
  set("fail_read=" + hex8(address) + ":3:31");
  EXPECT_EQ(ucap::device::quadlet_read(cam(), address, &value), 31u);
  set("fail_read=" + hex8(address) + ":4:1167");
  EXPECT_EQ(ucap::device::quadlet_read(cam(), address, &value), 1167u);
  EXPECT_EQ(ucap::device::quadlet_read(cam(), address, &value), 0u);  // one failure was left
}

TEST_F(RequestTest, WriteReopensLapsedAccessAndSucceeds) {
  const uint32_t address = vendor(ucap::device::kVendorShutterControl);
  ucap::device::VendorAccess access(cam());
  ASSERT_EQ(access.result(), 0u);
  set("lapse=1");
  CameraTest::trace(id());
  ASSERT_EQ(ucap::device::quadlet_write(cam(), address, 0x30000000), 0u);
  // The refused attempt never reached the camera; access read back as lapsed, reopened.
  std::vector<std::string> t = ucap_test::trace_lines(CameraTest::trace(id()));
  ASSERT_EQ(t.size(), 4u);
  EXPECT_EQ(t[0].substr(0, 10), "R " + hex8(vendor(0)));
  EXPECT_EQ(t[0].substr(10, 5), " FFFF");
  EXPECT_EQ(t[1], "W " + hex8(vendor(0)) + " 0007C2A5");
  EXPECT_EQ(t[2], "W " + hex8(vendor(4)) + " 00000FFF");
  EXPECT_EQ(t[3], "W " + hex8(address) + " 30000000");
}

TEST_F(RequestTest, MemoryCommandPollsUntilTheBusyBitsClear) {
  ucap::device::VendorAccess access(cam());
  ASSERT_EQ(access.result(), 0u);
  set("busy_us=5000");
  const auto written = std::chrono::steady_clock::now();
  ASSERT_EQ(
      ucap::device::quadlet_write(cam(), vendor(ucap::device::kVendorMemoryCommand), 0x4801D080),
      0u);
  CameraTest::trace(id());
  EXPECT_EQ(ucap::device::poll_memory_command(access), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - written, std::chrono::milliseconds(5));
  std::vector<std::string> t = ucap_test::trace_lines(CameraTest::trace(id()));
  ASSERT_GE(t.size(), 2u);  // busy reads, then the one that finds the command done
  for (const std::string& line : t) EXPECT_EQ(line.substr(0, 10), "R " + hex8(vendor(0x70)));
  EXPECT_EQ(t.back().substr(11, 1), "0");  // busy bits 31 and 30 clear
}

// ---- start-up failures, step by step ----

class StartupFailureTest : public NoCameraTest {
 protected:
  int attach(const std::string& config) {
    int id = ucap_vcam_attach(config.c_str());
    EXPECT_GE(id, 0) << config;
    return id;
  }
};

TEST_F(StartupFailureTest, OpenFailureIsReportedWithIndexAndCode) {
  attach("id=100000000000000");
  attach("id=200000000000000 fail_open=1");
  MessageCapture capture;
  EXPECT_EQ(UcapInit(), 3);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"(1)Init error 3"});
  UcapInfoRecord info{};
  EXPECT_EQ(UcapmInfo(0, &info), 3);
  EXPECT_EQ(UcapInit(), 0);  // the fault is used up; start-up may be repeated
}

TEST_F(StartupFailureTest, EachStepReturnsItsCode) {
  struct Case {
    const char* fault;
    int32_t code;
    bool message;
  };
  const Case cases[] = {
      {"fail_read=F0000424:3:31", 20, true},     // configuration ROM
      {"fail_read=cmd+480:3:31", 20, true},      // vendor block offset
      {"fail_write=cmd+0:3:31", 27, true},       // initialise
      {"fail_read=cmd+19C:3:31", 20, true},      // mode inquiry
      {"fail_read=mode2+24:3:31", 20, true},     // a mode register
      {"fail_read=vendor+C:3:31", 20, false},    // vendor word 3
      {"fail_write=vendor+70:3:31", 27, false},  // EEPROM memory command
      {"memory_error=1", 8, false},              // EEPROM error bit (access released: firmware)
      {"fail_read=vendor+70:3:31", 20, false},   // EEPROM command poll
      {"memory_stuck=1", 20, false},             // EEPROM command busy for good
      {"fail_read=vendor+80:3:31", 20, false},   // EEPROM data window
      {"fail_read=F0000410:3:31", 20, false},    // unique identifier
      {"fail_ioctl=222104:1:8", 7, false},       // frame buffer refused
  };
  for (const Case& c : cases) {
    ASSERT_EQ(ucap_vcam_reset(), 0);
    attach(c.fault);
    MessageCapture capture;
    EXPECT_EQ(UcapInit(), c.code) << c.fault;
    if (c.message) {
      EXPECT_EQ(capture.lines(),
                std::vector<std::string>{"(0)Init error " + std::to_string(c.code)})
          << c.fault;
    } else {
      EXPECT_TRUE(capture.lines().empty()) << c.fault;
    }
    UcapInfoRecord info{};
    EXPECT_EQ(UcapInfo(&info), 3) << c.fault;
    if (c.code == 20 && c.fault[0] == 'm') continue;  // a stuck command holds until released
    EXPECT_EQ(UcapInit(), 0) << c.fault;  // every other fault is used up: the camera starts
    UcapClose();
  }
}

TEST_F(StartupFailureTest, LaterCameraFailingClosesTheEarlierOnes) {
  int first = attach("id=100000000000000");
  attach("id=200000000000000 blemish_count=20000");
  EXPECT_EQ(UcapInit(), 28);
  EXPECT_EQ(vcam::frame_buffer_size(first), 0u);  // the first camera's were given back
  UcapInfoRecord info{};
  EXPECT_EQ(UcapInfo(&info), 3);
}

}  // namespace
