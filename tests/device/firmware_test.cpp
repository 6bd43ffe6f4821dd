// Firmware: the text parser, the download into the camera's memory, its faults, the export.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "device/firmware.h"
#include "support/camera_fixture.h"
#include "support/trace.h"

namespace {

using Bytes = std::vector<uint8_t>;
using ucap::device::parse_firmware;
using ucap_test::CameraTest;
using ucap_test::hex8;

// The bytes followed by 0xFF up to whole 128-byte blocks.
Bytes padded(Bytes bytes) {
  bytes.resize((bytes.size() + 127) / 128 * 128, 0xFF);
  return bytes;
}

std::string repeat(const std::string& line, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += line;
  return text;
}

TEST(FirmwareText, LinesCommentsLineEndsAndMalformedTexts) {
  struct Case {
    const char* what;
    std::string text;
    Bytes bytes;          // before padding
    int32_t code = 0;     // refused texts give no bytes
    int32_t length = -2;  // -2: the text's own
    bool null = false;
  };
  const Case cases[] = {
      {"two lines", "10000001\r\n11111111\r\n", {0x81, 0xFF}},
      {"comment", "00000011 comment word\r\n", {0x03}},
      {"more than eight digits", "1100000001\r\n", {0x01}},
      {"other characters are zero bits", "1x1-1 \r\n", {0x15}},
      {"empty line", "\r\n", {0x00}},
      {"last line without CR LF", "00000001\r\n00000010", {0x01, 0x02}},
      {"last line ended by a lone CR", "00000001\r\n00000010\r", {0x01, 0x02}},
      {"comment running to the end of the text", "00000101 no line end", {0x05}},
      {"short lines", repeat("1\r\n", 200), Bytes(200, 0x01)},
      {"a second block", repeat("11110000 a long comment on every line\r\n", 129),
       Bytes(129, 0xF0)},
      {"no bytes", "", {}},
      {"lone CR inside", "00000001\r00000010\r\n", {}, 8},
      {"negative length", "00000001\r\n", {}, 8, -1},
      {"null text", "", {}, 8, 10, true},
      {"null text, length 0", "", {}, 0, 0, true},
  };
  for (const Case& c : cases) {
    std::vector<char> exact(c.text.begin(), c.text.end());
    const ucap::device::FirmwareImage image =
        parse_firmware(c.null ? nullptr : exact.data(),
                       c.length == -2 ? static_cast<int32_t>(exact.size()) : c.length);
    EXPECT_EQ(image.code, c.code) << c.what;
    EXPECT_EQ(image.bytes, c.bytes.empty() ? Bytes{} : padded(c.bytes)) << c.what;
  }
}

class FirmwareTest : public CameraTest {
 protected:
  std::string release() const { return "W " + hex8(ucap::camera(0)->vendor_base) + " FFFFFFFF"; }
  int32_t write(const std::string& text) {
    return UcapmWriteFirmware(0, text.data(), static_cast<int32_t>(text.size()));
  }
  // The camera's firmware memory, empty while no block was written.
  Bytes memory(bool* started) {
    *started = ucap_vcam_firmware_started(id()) > 0;
    if (ucap_vcam_firmware(id(), 0, nullptr, 0) <= 0) return {};
    Bytes bytes(1u << 20);
    EXPECT_EQ(ucap_vcam_firmware(id(), 0, bytes.data(), static_cast<int>(bytes.size())) > 0, true);
    return bytes;
  }
};

TEST_F(FirmwareTest, DownloadLandsByteByByteAndStartsTheFirmware) {
  Bytes bytes;
  std::string text;
  for (int i = 0; i < 300; ++i) {
    const uint8_t b = static_cast<uint8_t>(i * 73 + 5);
    bytes.push_back(b);
    for (int bit = 7; bit >= 0; --bit) text += (b >> bit) & 1 ? '1' : '0';
    text += i % 7 == 0 ? " line comment\r\n" : "\r\n";
  }
  ASSERT_EQ(UcapWriteFirmware(text.data(), static_cast<int32_t>(text.size())), 0);
  bool started = false;
  Bytes expected(1u << 20, 0xFF);  // nothing beyond the three blocks is written
  std::copy(bytes.begin(), bytes.end(), expected.begin());
  EXPECT_EQ(memory(&started), expected);
  EXPECT_TRUE(started);
  const std::string command = "W " + hex8(cam().vendor_base + 0x70) + " ";
  EXPECT_EQ(
      ucap_test::trace_lines(CameraTest::trace(id()), command),
      (std::vector<std::string>{command + "88000000", command + "88000080", command + "88000100"}));
}

TEST_F(FirmwareTest, FailedDownloadReleasesAccessAndDoesNotStart) {
  struct Case {
    const char* fault;
    bool command_written;  // the memory command reached the camera
  };
  const Case cases[] = {
      {"fail_write=vendor+80:3:31", false},  // block write
      {"fail_write=vendor+70:3:31", false},  // memory command write
      {"memory_error=1", true},              // error bit
      {"memory_stuck=1", true},              // busy for good, so last: the poll gives up
  };
  const std::string command = "W " + hex8(cam().vendor_base + 0x70) + " 88000000";
  for (const Case& c : cases) {
    set(c.fault);
    EXPECT_EQ(write("10000001\r\n11111111\r\n"), 27) << c.fault;
    std::vector<std::string> t = ucap_test::trace_lines(CameraTest::trace(id()), "W ");
    ASSERT_FALSE(t.empty()) << c.fault;
    EXPECT_EQ(t.back(), release()) << c.fault;
    EXPECT_EQ(std::count(t.begin(), t.end(), release()), 1) << c.fault;
    EXPECT_EQ(std::count(t.begin(), t.end(), command), c.command_written ? 1 : 0) << c.fault;
    bool started = true;
    memory(&started);
    EXPECT_FALSE(started) << c.fault;
  }
}

TEST_F(FirmwareTest, ImageBeyondTheMemoryCommandsReachIsRefusedBeforeAnythingIsSent) {
  // 2^24 + 1 lines: one byte more than the 24-bit offset of the memory command reaches.
  EXPECT_EQ(write(repeat("\r\n", (1 << 24) + 1)), 8);
  EXPECT_EQ(CameraTest::trace(id()), "");
}

TEST_F(FirmwareTest, ExportChecksIndexThenBusyThenTextAndATextWithoutBytesOnlyStarts) {
  EXPECT_EQ(UcapmWriteFirmware(1, "1\r\n", 3), 3);
  cam().busy.store(1);
  EXPECT_EQ(UcapmWriteFirmware(0, "1\r", -1), 10);
  cam().busy.store(0);
  EXPECT_EQ(UcapmWriteFirmware(0, "1\r1\r\n", 5), 8);
  EXPECT_EQ(CameraTest::trace(id()), "");
  EXPECT_EQ(UcapmWriteFirmware(0, "", 0), 0);
  bool started = false;
  EXPECT_TRUE(memory(&started).empty());
  EXPECT_TRUE(started);
}

}  // namespace
