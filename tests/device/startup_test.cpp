// Start-up and shut-down through the exports, information words, EEPROM, the reporter.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "core/reporter.h"
#include "platform/seams.h"
#include "support/camera_fixture.h"
#include "support/messages.h"

namespace {

using ucap_test::CameraTest;
using ucap_test::MessageCapture;
using ucap_test::NoCameraTest;

class StartupTest : public NoCameraTest {};

TEST_F(StartupTest, SecondInitChangesNothingAndSecondCloseIsHarmless) {
  EXPECT_EQ(ReadEprom(144, 4), 0u);  // no EEPROM image before a start-up
  int id = ucap_vcam_attach("");
  ASSERT_GE(id, 0);
  ASSERT_EQ(UcapInit(), 0);
  CameraTest::trace(id);
  ucap::CameraRecord* before = ucap::camera(0);
  EXPECT_EQ(UcapInit(), 0);
  EXPECT_EQ(ucap::camera(0), before);
  EXPECT_EQ(CameraTest::trace(id), "");  // nothing was sent to the camera
  EXPECT_EQ(UcapClose(), 0);
  UcapInfoRecord info{};
  EXPECT_EQ(UcapInfo(&info), 3);
  EXPECT_EQ(UcapClose(), 0);  // (and again in every fixture's set-up and tear-down)
}

TEST_F(StartupTest, SensorSizeModeTableAndDriverFrameBuffersComeFromTheCamera) {
  ASSERT_GE(ucap_vcam_attach("modes=0,2 sensor=1296x968"), 0);
  ASSERT_EQ(UcapInit(), 0);
  const ucap::CameraRecord& cam = *ucap::camera(0);
  EXPECT_EQ(std::pair(cam.sensor_width, cam.sensor_height), std::pair(1296, 968));
  // Both driver buffers hold a full 16-bit frame plus the slack: touch their last bytes.
  EXPECT_NE(cam.frame_buffer[0], cam.frame_buffer[1]);
  const size_t size = 1296u * 968u * 2u + 200000u;
  cam.frame_buffer[0][size - 1] = 1;
  cam.frame_buffer[1][size - 1] = 1;
  for (int m = 0; m < 8; ++m) {
    const ucap::ModeEntry& e = cam.modes[m];
    if (m == 0 || m == 2) {
      EXPECT_NE(e.block_address, 0u) << m;
      EXPECT_EQ(std::tuple(e.max_width, e.max_height, e.output_width, e.output_height,
                           e.packing_supported),
                std::tuple(1296, 968, 1296, 968, 1u))
          << m;
    } else {
      const auto* bytes = reinterpret_cast<const unsigned char*>(&e);
      for (size_t k = 0; k < sizeof e; ++k) ASSERT_EQ(bytes[k], 0) << "mode " << m;
    }
  }
  EXPECT_NE(cam.modes[0].block_address, cam.modes[2].block_address);
}

TEST_F(StartupTest, InformationWordsAndEeprom) {
  ASSERT_GE(ucap_vcam_attach("id=100000000000000 uid=89ABCDEF vendor3=01020304 eeprom36=CAFE1234"),
            0);
  ASSERT_GE(ucap_vcam_attach("id=200000000000000 uid=11111111"), 0);
  ASSERT_EQ(UcapInit(), 0);
  UcapInfoRecord info{};
  ASSERT_EQ(UcapInfo(&info), 0);
  EXPECT_EQ(std::tuple(info.vendor_word3, info.unique_id_low, info.one, info.eeprom_word36),
            std::tuple(0x01020304u, 0x89ABCDEFu, 1u, 0xCAFE1234u));
  EXPECT_EQ(ReadEprom(144, 4), info.eeprom_word36);
  EXPECT_EQ(ReadEprom(145, 2), 0xFE12u);
  EXPECT_EQ(ReadEprom(143, 6), 0xFE123400u | ReadEprom(148, 1));  // the last four bytes survive
  EXPECT_EQ(ReadEprom(0, 0), 0u);
  EXPECT_EQ(ReadEprom(144, -1), 0u);
  // Near the end of the image only the bytes inside it are read.
  EXPECT_EQ(ReadEprom(2046, 4), ReadEprom(2046, 2));
  EXPECT_EQ(ReadEprom(2047, 1), ucap::camera(0)->eeprom[2047]);
  EXPECT_EQ(ReadEprom(60000, 4), 0u);
  UcapInfoRecord second{};
  ASSERT_EQ(UcapmInfo(1, &second), 0);
  EXPECT_EQ(std::pair(second.one, second.unique_id_low), std::pair(1u, 0x11111111u));
}

TEST_F(StartupTest, CamerasStartUpByTheirBlemishCountAndSensorSize) {
  // Below 10000 is valid, though only (2048 - 524) / 4 = 381 entries fit in the image.
  const struct {
    const char* config;
    int32_t code, blemishes;
  } cameras[] = {{"blemish_count=0", 0, 0},     {"blemish_count=9999", 0, 381},
                 {"blemish_count=500", 0, 381}, {"blemish_count=10000", 28, -1},
                 {"sensor=2600x1936", 8, -1},   {"sensor=2584x1940", 8, -1},
                 {"sensor=2584x1936", 0, 0}};
  for (const auto& c : cameras) {
    ASSERT_EQ(ucap_vcam_reset(), 0);
    ASSERT_GE(ucap_vcam_attach(c.config), 0);
    EXPECT_EQ(UcapInit(), c.code) << c.config;
    if (c.code == 0) {
      EXPECT_EQ(ucap::camera(0)->blemish_list_valid, 1) << c.config;
      EXPECT_EQ(ucap::camera(0)->blemish_count, c.blemishes) << c.config;
      EXPECT_EQ(Ucap_corrblems(1), 1) << c.config;  // the answer is the camera's own flag
      ucap::camera(0)->blemish_list_valid = 0;
      EXPECT_EQ(Ucap_corrblems(1), 0) << c.config;
    } else {
      EXPECT_EQ(ucap::camera(0), nullptr) << c.config;
    }
    UcapClose();
  }
}

// ---- the error reporter ----

class ReporterTest : public NoCameraTest {
 protected:
  void TearDown() override {
    UcapSetErrorMessages(1);
    NoCameraTest::TearDown();
  }
};

TEST_F(ReporterTest, SwitchStoresItsValueAndZeroSuppressesEveryReport) {
  EXPECT_EQ(UcapSetErrorMessages(5), 0);
  EXPECT_EQ(UcapGetCurrentErrorMessages(), 5);
  MessageCapture capture;
  ucap::report(ucap::msg::kInitError, 2, 10);
  UcapSetErrorMessages(0);
  ucap::report(ucap::msg::kAcquisitionError, 2, 10);
  ucap::report(ucap::msg::kSetupError);
  UcapSetErrorMessages(1);
  ucap::report(ucap::msg::kAcquisitionError, 2, 10);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"(2)Init error 10", "(2)UcapAcquisition error 10"}));
}

TEST_F(ReporterTest, FailedMonitorThreadIsReportedAndStartUpGoesOn) {
  ASSERT_GE(ucap_vcam_attach(""), 0);
  MessageCapture capture;
  ucap::platform::testing::fail_thread_creations(1);
  ASSERT_EQ(UcapInit(), 0);
  ucap::platform::testing::fail_thread_creations(0);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"Couldn\xB4t create bus reset thread"});
  UcapInfoRecord info{};
  EXPECT_EQ(UcapInfo(&info), 0);
  EXPECT_EQ(UcapClose(), 0);  // returns although no monitor event will ever exist
}

}  // namespace
