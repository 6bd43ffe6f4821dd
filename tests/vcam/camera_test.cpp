// The virtual camera's registers: configuration ROM, command registers, mode blocks,
// vendor access, memory command with EEPROM and firmware memory, mode apply, the trace.
#include <algorithm>
#include <chrono>
#include <thread>

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
  uint32_t be(const uint8_t* p) { return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3]; }
  // EEPROM bytes through the memory command, as the library reads them.
  std::vector<uint8_t> read_eeprom() {
    std::vector<uint8_t> e(2048);
    for (uint32_t o = 0; o < 2048; o += 128) {
      dev->open_access();
      EXPECT_EQ(dev->command(kVendor + 0x70, 0x4801D000 + o, 0xC0000000) & 0x20000000, 0u);
      EXPECT_TRUE(dev->block_read(kVendor + 0x80, &e[o]));
      dev->write(kVendor, 0xFFFFFFFF);
    }
    return e;
  }
  std::unique_ptr<Device> dev;
};

TEST_F(Camera, RomLeadsToTheCommandAndVendorRegisters) {
  attach("uid=CAFE0001");
  EXPECT_EQ(dev->read(0xF0000404), 0x31333934u);  // "1394"
  EXPECT_EQ(dev->read(0xF0000410), 0xCAFE0001u);
  uint32_t o1 = dev->read(0xF0000424) & 0xFFFFFF;
  uint32_t a = 0xF0000430 + 4 * o1;
  uint32_t o2 = dev->read(a) & 0xFFFFFF;
  uint32_t cmd = 0xF0000000 + 4 * (dev->read(a + 4 * o2 + 4) & 0xFFFFFF);
  EXPECT_EQ(cmd, kCmd);
  EXPECT_EQ(0xF0000000 + 4 * (dev->read(cmd + 0x480) & 0xFFFFFF), kVendor);
  uint8_t block[128];
  ASSERT_TRUE(dev->block_read(0xF0000400, block));
  EXPECT_EQ(be(block + 0x10), 0xCAFE0001u);

  uint32_t v = 0, err = 0;
  for (uint32_t unmapped : {0xF0000000u, 0xF00007FCu, kCmd + 0x500, kCmd + 0x19E, kVendor + 0x300,
                            0xF0E20000u, mode_block(1)}) {
    EXPECT_FALSE(dev->read(unmapped, &v, &err)) << std::hex << unmapped;
    EXPECT_EQ(err, vcam::kErrGenFailure);
  }
  EXPECT_FALSE(dev->write(kCmd + 0x19C, 0, &err));  // read-only
  EXPECT_FALSE(dev->block_write(0xF0000400, block, &err));
}

TEST_F(Camera, ModesAndTheirBlocksFollowTheConfiguration) {
  attach("modes=0,2,5 packing=0 output=0:1300x1030 sensor=1600x1200 vendor3=00ABCDEF");
  EXPECT_EQ(dev->read(kCmd + 0x19C), 0xA4000000u);
  for (int m = 0; m < 8; ++m) {
    uint32_t off = dev->read(kCmd + 0x2E0 + 4 * m);
    bool on = m == 0 || m == 2 || m == 5;
    EXPECT_EQ(off != 0, on) << m;
    if (on) {
      EXPECT_EQ(0xF0000000 + 4 * off, mode_block(m));
    }
  }
  EXPECT_EQ(dev->read(mode_block(2)), (1600u << 16) | 1200u);
  EXPECT_EQ(dev->read(mode_block(2) + 0x24) & (1u << 26), 0u);
  EXPECT_EQ(dev->read(kVendor + 0x10C), (1300u << 16) | 1030u);
  EXPECT_EQ(dev->read(kVendor + 0x10C + 64), (1600u << 16) | 1200u);
  EXPECT_EQ(dev->read(kVendor + 0x00C), 0x00ABCDEFu);
  ASSERT_EQ(ucap_vcam_set(0, "packing=1"), 0);
  EXPECT_NE(dev->read(mode_block(0) + 0x24) & (1u << 26), 0u);
}

TEST_F(Camera, DefaultCameraOffersModesZeroAndTwoAtSensorSize) {
  attach("");
  EXPECT_EQ(dev->read(kCmd + 0x19C), 0xA0000000u);
  for (int m : {0, 2}) {
    EXPECT_EQ(dev->read(mode_block(m)), (2584u << 16) | 1936u);
    EXPECT_EQ(dev->read(kVendor + 0x10C + 32 * m), (2584u << 16) | 1936u);
    EXPECT_NE(dev->read(mode_block(m) + 0x24) & (1u << 26), 0u);
  }
}

TEST_F(Camera, VendorWritesNeedOpenAccessWhichLapses) {
  attach("");
  uint32_t err = 0;
  EXPECT_EQ(dev->read(kVendor) >> 16, 0xFFFFu);  // never opened
  EXPECT_FALSE(dev->write(kVendor + 0x1C, 0x30000000, &err));
  EXPECT_EQ(err, vcam::kErrGenFailure);
  dev->open_access();
  EXPECT_NE(dev->read(kVendor) >> 16, 0xFFFFu);
  EXPECT_TRUE(dev->write(kVendor + 0x1C, 0x30000000));
  EXPECT_EQ(dev->read(kVendor + 0x1C), 0x30000000u);

  ASSERT_EQ(ucap_vcam_set(0, "lapse=1"), 0);
  EXPECT_EQ(dev->read(kVendor) >> 16, 0xFFFFu);
  EXPECT_FALSE(dev->write(kVendor + 0x1C, 0, &err));
  dev->open_access();
  EXPECT_TRUE(dev->write(kVendor + 0x1C, 0));
  EXPECT_TRUE(dev->write(kVendor, 0xFFFFFFFF));  // release
  EXPECT_EQ(dev->read(kVendor) >> 16, 0xFFFFu);

  // Lapse after the access key and the time-out word: the next write fails once; the
  // library's retry reads the lapse, reopens and succeeds.
  ASSERT_EQ(ucap_vcam_set(0, "lapse_after=2"), 0);
  dev->open_access();
  EXPECT_FALSE(dev->write(kVendor + 0x1C, 0x10000000, &err));
  EXPECT_EQ(dev->read(kVendor) >> 16, 0xFFFFu);
  dev->open_access();
  EXPECT_TRUE(dev->write(kVendor + 0x1C, 0x10000000));
}

TEST_F(Camera, AccessLapsesWhenNoVendorWriteComesInTime) {
  attach("access_timeout=30");
  dev->open_access();
  EXPECT_NE(dev->read(kVendor) >> 16, 0xFFFFu);
  std::this_thread::sleep_for(std::chrono::milliseconds(60));
  EXPECT_EQ(dev->read(kVendor) >> 16, 0xFFFFu);
  uint32_t err = 0;
  EXPECT_FALSE(dev->write(kVendor + 0x30, 0, &err));
}

TEST_F(Camera, EepromCarriesTheConfiguredWordAndBlemishList) {
  attach("sensor=1000x800 eeprom36=0A0B0C0D blemishes=3:0,999:799,10:20 second_count=0");
  auto e = read_eeprom();
  EXPECT_EQ(be(&e[144]), 0x0A0B0C0Du);
  EXPECT_EQ(be(&e[512]), 3u);
  EXPECT_EQ(be(&e[516]), 0u);
  EXPECT_EQ(be(&e[524]), 3u);
  EXPECT_EQ(be(&e[528]), 799u * 1000 + 999);
  EXPECT_EQ(be(&e[532]), 20u * 1000 + 10);
  EXPECT_EQ(be(&e[536]), 0u);

  ASSERT_EQ(ucap_vcam_set(0, "blemish_count=10000 second_count=7"), 0);
  e = read_eeprom();
  EXPECT_EQ(be(&e[512]), 10000u);
  EXPECT_EQ(be(&e[516]), 7u);
  EXPECT_EQ(be(&e[524]), 3u);  // the list itself stays
}

TEST_F(Camera, MemoryCommandStaysBusyForAFewPollsAndCanFail) {
  attach("busy_polls=3");
  dev->open_access();
  int polls = 0;
  uint32_t v = dev->command(kVendor + 0x70, 0x4801D000, 0xC0000000, &polls);
  EXPECT_EQ(polls, 4);  // three busy reads, then done
  EXPECT_EQ(v & 0xE0000000, 0u);

  // A second command while the first is still busy is refused.
  EXPECT_TRUE(dev->write(kVendor + 0x70, 0x4801D080));
  uint32_t err = 0;
  EXPECT_FALSE(dev->write(kVendor + 0x70, 0x4801D100, &err));
  while (dev->read(kVendor + 0x70) & 0xC0000000) {
  }

  ASSERT_EQ(ucap_vcam_set(0, "memory_error=1"), 0);
  dev->open_access();
  EXPECT_NE(dev->command(kVendor + 0x70, 0x4801D000, 0xC0000000) & 0x20000000, 0u);
  EXPECT_EQ(dev->command(kVendor + 0x70, 0x4801D000, 0xC0000000) & 0x20000000, 0u);
  // Offsets past the EEPROM and unknown commands end with the error bit.
  EXPECT_NE(dev->command(kVendor + 0x70, 0x4801D000 + 1984, 0xC0000000) & 0x20000000, 0u);
  EXPECT_NE(dev->command(kVendor + 0x70, 0x40000000, 0xC0000000) & 0x20000000, 0u);
}

TEST_F(Camera, StuckMemoryCommandStaysBusyUntilReleased) {
  attach("busy_polls=1 memory_stuck=1");
  dev->open_access();
  ASSERT_TRUE(dev->write(kVendor + 0x70, 0x4801D000 + 128));
  for (int i = 0; i < 1000; ++i) ASSERT_NE(dev->read(kVendor + 0x70) & 0xC0000000, 0u) << i;
  uint32_t err = 0;
  EXPECT_FALSE(dev->write(kVendor + 0x70, 0x4801D000, &err));  // refused while busy
  ASSERT_EQ(ucap_vcam_set(0, "vendor3=1"), 0);                // other settings leave it stuck
  EXPECT_NE(dev->read(kVendor + 0x70) & 0xC0000000, 0u);
  ASSERT_EQ(ucap_vcam_set(0, "memory_stuck=0"), 0);
  EXPECT_EQ(dev->read(kVendor + 0x70), 0x0801D080u);  // done without error
  EXPECT_EQ(dev->read(kVendor + 0x80 + 16), 0x20260101u);  // EEPROM bytes 144..147 arrived
  int polls = 0;
  EXPECT_EQ(dev->command(kVendor + 0x70, 0x4801D000, 0xC0000000, &polls), 0x0801D000u);
  EXPECT_EQ(polls, 2);  // the next command is an ordinary one
}

TEST_F(Camera, FirmwareBlocksGoThroughTheWindowAndStart) {
  attach("busy_polls=0");
  EXPECT_EQ(ucap_vcam_firmware(0, 0, nullptr, 0), 0);  // nothing written yet
  EXPECT_EQ(ucap_vcam_firmware_started(0), 0);
  dev->open_access();
  uint8_t block[128];
  for (int i = 0; i < 128; ++i) block[i] = static_cast<uint8_t>(i * 3);
  ASSERT_TRUE(dev->block_write(kVendor + 0x80, block));
  EXPECT_EQ(dev->command(kVendor + 0x70, 0x88000000 + 256, 0xC0000000) & 0x20000000, 0u);
  ASSERT_TRUE(dev->write(kVendor + 0x08, 0x12345678));  // not the start command
  EXPECT_EQ(ucap_vcam_firmware_started(0), 0);
  ASSERT_TRUE(dev->write(kVendor + 0x08, 0x40000000));
  ASSERT_TRUE(dev->write(kVendor + 0x08, 0x40000000));
  EXPECT_EQ(ucap_vcam_firmware_started(0), 2);

  std::vector<uint8_t> fw(1 << 20, 0);
  EXPECT_EQ(ucap_vcam_firmware(0, 0, fw.data(), 1 << 20), 384);  // end of the highest block
  EXPECT_EQ(std::count(fw.begin(), fw.begin() + 256, 0xFF), 256);
  EXPECT_EQ(std::memcmp(&fw[256], block, 128), 0);
  EXPECT_EQ(std::count(fw.begin() + 384, fw.end(), 0xFF), (1 << 20) - 384);
  uint8_t two[2] = {};
  EXPECT_EQ(ucap_vcam_firmware(0, 257, two, 2), 384);
  EXPECT_EQ(two[0], 3);
  EXPECT_EQ(two[1], 6);
  const int refused[][2] = {{-1, 1}, {0, -1}, {(1 << 20) - 1, 2}, {0, (1 << 20) + 1}};
  for (const auto& r : refused) EXPECT_LT(ucap_vcam_firmware(0, r[0], two, r[1]), 0) << r[0] << " " << r[1];
  EXPECT_LT(ucap_vcam_firmware(0, 0, nullptr, 1), 0);
  EXPECT_LT(ucap_vcam_firmware(9, 0, two, 1), 0);
  EXPECT_LT(ucap_vcam_firmware_started(9), 0);
}

TEST_F(Camera, ModeApplyChecksTheGeometryAndReportsTheTransfer) {
  attach("");
  dev->open_access();
  // Mode 2, binning 2, rectangle (0, 0, 1296, 1028).
  ASSERT_TRUE(dev->write(kVendor + 0x144, 0x010200C0));
  ASSERT_TRUE(dev->write(kVendor + 0x150, 0));
  ASSERT_TRUE(dev->write(kVendor + 0x154, 0x05100404));
  int polls = 0;
  EXPECT_EQ(dev->command(kVendor + 0x15C, 0x40000000, 0x40000000, &polls), 0u);
  EXPECT_EQ(polls, 3);
  EXPECT_EQ(dev->read(mode_block(2) + 0x08), 0u);
  EXPECT_EQ(dev->read(mode_block(2) + 0x0C), (1296u << 16) | 514u);
  uint32_t bpp = dev->read(mode_block(2) + 0x44) >> 16;
  uint32_t ppf = dev->read(mode_block(2) + 0x48);
  EXPECT_LE(bpp, 4096u);
  EXPECT_EQ(bpp % 8, 0u);
  EXPECT_GE(bpp * ppf, 1296u * 514 * 2);
  EXPECT_LT(bpp * ppf, 1296u * 514 * 2 + 8 * ppf);
  EXPECT_EQ(dev->read(mode_block(2) + 0x3C), bpp * ppf);

  // Packed transfer after apply settings: two samples in three bytes per field.
  ASSERT_TRUE(dev->write(mode_block(2) + 0x10, 0x85000000));
  EXPECT_EQ(dev->command(mode_block(2) + 0x7C, 0x40000000, 0x40000000), 0u);
  uint32_t packed = (dev->read(mode_block(2) + 0x44) >> 16) * dev->read(mode_block(2) + 0x48);
  EXPECT_GE(packed, 1296u * 514 / 2 * 3);
  EXPECT_LT(packed, 1296u * 514 * 2);

  // Geometry the camera cannot take: error bit 23, the old geometry stays.
  for (uint32_t size : {0x05110404u /* width not a multiple of 4 */, 0x0A2807A0u /* too wide */,
                        0x001E0404u /* narrower than 16b */}) {
    ASSERT_TRUE(dev->write(kVendor + 0x154, size));
    EXPECT_NE(dev->command(kVendor + 0x15C, 0x40000000, 0x40000000) & 0x00800000, 0u) << std::hex << size;
  }
  EXPECT_EQ(dev->read(mode_block(2) + 0x0C), (1296u << 16) | 514u);
  ASSERT_TRUE(dev->write(kVendor + 0x154, 0x05100404));
  ASSERT_EQ(ucap_vcam_set(0, "apply_error=1 settings_error=1"), 0);
  EXPECT_NE(dev->command(kVendor + 0x15C, 0x40000000, 0x40000000) & 0x00800000, 0u);
  EXPECT_EQ(dev->command(kVendor + 0x15C, 0x40000000, 0x40000000), 0u);
  EXPECT_NE(dev->command(mode_block(2) + 0x7C, 0x40000000, 0x40000000) & 0x00800000, 0u);
}

TEST_F(Camera, PackedCodingNeedsPackingSupport) {
  attach("packing=0");
  ASSERT_TRUE(dev->write(mode_block(0) + 0x10, 0x85000000));
  EXPECT_NE(dev->command(mode_block(0) + 0x7C, 0x40000000, 0x40000000) & 0x00800000, 0u);
  ASSERT_TRUE(dev->write(mode_block(0) + 0x10, 0x05000000));
  EXPECT_EQ(dev->command(mode_block(0) + 0x7C, 0x40000000, 0x40000000), 0u);
}

TEST_F(Camera, TraceListsCarriedOutAccessesAndFollowsTheCopyRules) {
  attach("");
  take_trace(0);
  dev->open_access();
  uint8_t block[128] = {0xAB, 0xCD, 0xEF, 0x01};
  ASSERT_TRUE(dev->block_write(kVendor + 0x80, block));
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
