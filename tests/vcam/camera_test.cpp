// The virtual camera's registers where the library's own tests do not reach them.
#include "vcam_client.h"

namespace vcam_test {
namespace {

class Camera : public VcamTest {
 protected:
  void attach(const std::string& config) {
    ASSERT_EQ(ucap_vcam_attach(("id=42 " + config).c_str()), 0);
    dev = std::make_unique<Device>(path_of_id("42"));
    ASSERT_TRUE(dev->ok());
  }
  std::unique_ptr<Device> dev;
};

TEST_F(Camera, UnmappedReadOnlyAndClosedVendorRegistersAreRefused) {
  attach("");
  uint32_t v = 0, err = 0;
  for (uint32_t unmapped : {0xF0000000u, 0xF00007FCu, kCmd + 0x500, kCmd + 0x19E, kVendor + 0x300,
                            0xF0E20000u, mode_block(1)}) {
    EXPECT_FALSE(dev->read(unmapped, &v, &err)) << std::hex << unmapped;
    EXPECT_EQ(err, vcam::kErrGenFailure);
  }
  EXPECT_FALSE(dev->write(kCmd + 0x19C, 0, &err));  // read-only
  uint8_t block[128];
  ASSERT_TRUE(dev->transfer(kRead, 0xF0000400, 128, nullptr, block, nullptr));
  EXPECT_FALSE(dev->transfer(kWrite, 0xF0000400, 128, block, nullptr, &err));  // the ROM
  EXPECT_EQ(dev->read(kVendor) >> 16, 0xFFFFu);                                // never opened
  EXPECT_FALSE(dev->write(kVendor + 0x1C, 0x30000000, &err));
  EXPECT_EQ(err, vcam::kErrGenFailure);
  dev->open_access();
  EXPECT_NE(dev->read(kVendor) >> 16, 0xFFFFu);
  EXPECT_TRUE(dev->write(kVendor + 0x1C, 0x30000000));
  EXPECT_EQ(dev->read(kVendor + 0x1C), 0x30000000u);
  EXPECT_TRUE(dev->write(kVendor, 0xFFFFFFFF));  // release
  EXPECT_FALSE(dev->write(kVendor + 0x1C, 0, &err));
}

TEST_F(Camera, MemoryCommandsAreCheckedAndOnlyTheStartCommandStartsTheFirmware) {
  // Refused while busy, past the EEPROM, or unknown.
  attach("busy_us=20000");
  dev->open_access();
  EXPECT_TRUE(dev->write(kVendor + 0x70, 0x4801D080));
  uint32_t err = 0;
  EXPECT_FALSE(dev->write(kVendor + 0x70, 0x4801D100, &err));  // the first is still busy
  while (dev->read(kVendor + 0x70) & 0xC0000000) {}
  EXPECT_NE(dev->command(kVendor + 0x70, 0x4801D000 + 1984, 0xC0000000) & 0x20000000, 0u);
  EXPECT_NE(dev->command(kVendor + 0x70, 0x40000000, 0xC0000000) & 0x20000000, 0u);
  // Only the start command starts the firmware; its memory reads back in range.
  uint8_t block[128];
  for (int i = 0; i < 128; ++i) block[i] = static_cast<uint8_t>(i * 3);
  ASSERT_TRUE(dev->transfer(kWrite, kVendor + 0x80, 128, block, nullptr, nullptr));
  EXPECT_EQ(dev->command(kVendor + 0x70, 0x88000000 + 256, 0xC0000000) & 0x20000000, 0u);
  ASSERT_TRUE(dev->write(kVendor + 0x08, 0x12345678));
  EXPECT_EQ(ucap_vcam_firmware_started(0), 0);
  ASSERT_TRUE(dev->write(kVendor + 0x08, 0x40000000));
  ASSERT_TRUE(dev->write(kVendor + 0x08, 0x40000000));
  EXPECT_EQ(ucap_vcam_firmware_started(0), 2);
  uint8_t two[2] = {};
  EXPECT_EQ(ucap_vcam_firmware(0, 257, two, 2), 384);  // the end of the highest block
  EXPECT_EQ(two[0], 3);
  EXPECT_EQ(two[1], 6);
}

// An apply answers error bit 23 for a geometry or coding the camera cannot take; the old stays.
TEST_F(Camera, ApplyRefusesGeometryOrCodingTheCameraCannotTake) {
  attach("packing=0");
  dev->open_access();
  ASSERT_TRUE(dev->write(kVendor + 0x144, 0x010200C0));  // mode 2, binning 2
  ASSERT_TRUE(dev->write(kVendor + 0x150, 0));
  const uint32_t size = kVendor + 0x154, apply = kVendor + 0x15C, coding = mode_block(0) + 0x10;
  // Width not a multiple of 4, too wide, narrower than 16; packed coding without packing.
  for (auto [reg, value, go, bad] : {std::tuple{size, 0x05100404u, apply, false},
                                     {size, 0x05110404u, apply, true},
                                     {size, 0x0A2807A0u, apply, true},
                                     {size, 0x001E0404u, apply, true},
                                     {coding, 0x85000000u, mode_block(0) + 0x7C, true},
                                     {coding, 0x05000000u, mode_block(0) + 0x7C, false}}) {
    ASSERT_TRUE(dev->write(reg, value));
    EXPECT_EQ(dev->command(go, 0x40000000, 0x40000000), bad ? 0x00800000u : 0u)
        << std::hex << value;
  }
  EXPECT_EQ(dev->read(mode_block(2) + 0x0C), (1296u << 16) | 514u);
}

TEST_F(Camera, TraceListsCarriedOutAccessesAndFollowsTheCopyRules) {
  attach("");
  ucap_test::take_log(ucap_vcam_trace, 0);
  dev->open_access();
  uint8_t block[128] = {0xAB, 0xCD, 0xEF, 0x01};
  ASSERT_TRUE(dev->transfer(kWrite, kVendor + 0x80, 128, block, nullptr, nullptr));
  dev->read(kVendor + 0x80);
  uint32_t err = 0;
  dev->write(kCmd + 0x999 * 4, 1, &err);  // refused: not traced
  const std::string expected =
      "W F0F00000 0007C2A5\nW F0F00004 00000FFF\nBW F0F00080 ABCDEF01\nR F0F00080 ABCDEF01\n";
  int need = ucap_vcam_trace(0, nullptr, 0);
  EXPECT_EQ(need, static_cast<int>(expected.size()) + 1);
  std::vector<char> small(static_cast<size_t>(need) - 1, 'x');
  EXPECT_EQ(ucap_vcam_trace(0, small.data(), need - 1), need);
  EXPECT_EQ(small[0], 'x');  // nothing copied, trace kept
  std::vector<char> buf(static_cast<size_t>(need), 'x');
  EXPECT_EQ(ucap_vcam_trace(0, buf.data(), need), need);
  EXPECT_EQ(std::string(buf.data()), expected);
  EXPECT_EQ(ucap_vcam_trace(0, nullptr, 0), 1);  // cleared
  EXPECT_LT(ucap_vcam_trace(5, nullptr, 0), 0);
}

}  // namespace
}  // namespace vcam_test
