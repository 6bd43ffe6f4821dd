#include "device/identify.h"

#include <cstring>

#include "core/errors.h"
#include "device/bytes.h"
#include "device/discovery.h"
#include "device/requests.h"

namespace ucap::device {

namespace {

// A register block located by a 24-bit quadlet offset.
constexpr uint32_t kRegisterSpace = 0xF0000000;
constexpr uint32_t kQuadletOffsetMask = 0xFFFFFF;
uint32_t quadlet_base(uint32_t value) { return kRegisterSpace + 4u * (value & kQuadletOffsetMask); }

uint32_t big_endian(const uint8_t* p) { return get_bus_quadlet(p); }

// EEPROM layout.
constexpr size_t kBlemishCount = 512;
constexpr size_t kSecondCount = 516;
constexpr size_t kBlemishEntries = 524;

// One 128-byte block of the EEPROM at offset o into the image, under vendor access.
int32_t read_eeprom_block(VendorAccess& access, uint32_t o) {
  CameraRecord& cam = access.camera();
  if (quadlet_write(cam, vendor(cam, kVendorMemoryCommand), kMemoryReadEeprom + o) != 0)
    return err::kWrite;
  const int32_t c = poll_memory_command(access);
  if (c != 0) return c;
  if (block_read(cam, vendor(cam, kVendorDataWindow), cam.eeprom + o) != 0) return err::kRead;
  return 0;
}

}  // namespace

int32_t open_and_identify(CameraRecord& cam, int32_t number) {
  // The record was created zero-filled; the connection group starts over here.
  cam.device = nullptr;
  std::memset(cam.device_path, 0, sizeof cam.device_path);
  cam.bus_number = cam.node_number = 0;
  cam.command_base = cam.vendor_base = 0;
  std::memset(cam.modes, 0, sizeof cam.modes);

  char path[kPathSlotBytes + 1] = {};
  if (!find_camera_path(number, path, nullptr)) return err::kNoCamera;
  platform::DeviceHandle h = platform::open_device(path, false);
  cam.device = h;
  if (!platform::device_valid(h)) return err::kNoCamera;
  std::memcpy(cam.device_path, path, sizeof path);

  // Node address; the driver's answer is taken as it comes.
  const uint16_t address = request_node_address(h);
  cam.bus_number = static_cast<uint16_t>(address >> 6);
  cam.node_number = static_cast<uint16_t>(address & 0x3F);

  uint32_t v = 0;
  if (quadlet_read(cam, kRomRootEntry, &v) != 0) return err::kRead;
  const uint32_t a = kRomUnitDirectoryBase + 4u * (v & kQuadletOffsetMask);
  if (quadlet_read(cam, a, &v) != 0) return err::kRead;
  if (quadlet_read(cam, a + 4u * (v & kQuadletOffsetMask) + 4u, &v) != 0) return err::kRead;
  cam.command_base = quadlet_base(v);

  if (quadlet_read(cam, command(cam, kCmdVendorOffset), &v) != 0) return err::kRead;
  cam.vendor_base = quadlet_base(v);

  if (quadlet_write(cam, command(cam, kCmdInitialise), kInitialiseCamera) != 0) return err::kWrite;
  platform::sleep_ms(20);

  uint32_t mask = 0;
  if (quadlet_read(cam, command(cam, kCmdModeInquiry), &mask) != 0) return err::kRead;
  for (uint32_t m = 0; m < 8; ++m) {
    if ((mask & (1u << (31 - m))) == 0) continue;
    ModeEntry& e = cam.modes[m];
    uint32_t values[9];
    if (quadlet_read(cam, command(cam, kCmdModeOffset + 4 * m), &values[0]) != 0) return err::kRead;
    e.block_address = quadlet_base(values[0]);
    static constexpr uint32_t kBlockOffsets[6] = {kModeMaxSize,         kModeUnitSize,
                                                  kModeTotalBytes,      kModeBytesPerPacket,
                                                  kModePacketsPerFrame, kModeUnitPosition};
    for (int i = 0; i < 6; ++i) {
      if (quadlet_read(cam, e.block_address + kBlockOffsets[i], &values[1 + i]) != 0)
        return err::kRead;
    }
    if (quadlet_read(cam, vendor_mode(cam, kVendorOutputSize, m), &values[7]) != 0)
      return err::kRead;
    if (quadlet_read(cam, e.block_address + kModeInquiry, &values[8]) != 0) return err::kRead;
    e.max_width = static_cast<uint16_t>(values[1] >> 16);
    e.max_height = static_cast<uint16_t>(values[1]);
    e.unit_width = static_cast<uint16_t>(values[2] >> 16);
    e.unit_height = static_cast<uint16_t>(values[2]);
    e.total_bytes = values[3];
    e.bytes_per_packet = static_cast<uint16_t>(values[4] >> 16);
    e.packets_per_frame = values[5];
    e.unit_pos_h = static_cast<uint16_t>(values[6] >> 16);
    e.unit_pos_v = static_cast<uint16_t>(values[6]);
    e.output_width = static_cast<uint16_t>(values[7] >> 16);
    e.output_height = static_cast<uint16_t>(values[7]);
    e.packing_supported = (values[8] >> 26) & 1u;
  }
  return 0;
}

int32_t read_eeprom(CameraRecord& cam) {
  std::memset(cam.eeprom, 0, sizeof cam.eeprom);
  for (uint32_t o = 0; o < kEepromBytes; o += kBlockBytes) {
    VendorAccess access(cam);
    if (!access.is_open()) return err::kRead;
    const int32_t c = read_eeprom_block(access, o);
    // A failed request returns with access still open, as the read's steps have it (the
    // camera's access time-out ends it); the error bit has released it already.
    if (c != 0) {
      access.leave_open();
      return c;
    }
  }
  const uint32_t count = big_endian(cam.eeprom + kBlemishCount);
  const uint32_t second = big_endian(cam.eeprom + kSecondCount);
  if (count >= static_cast<uint32_t>(kMaxBlemishes) ||
      second >= static_cast<uint32_t>(kMaxBlemishes)) {
    cam.blemish_list_valid = 0;
    return err::kBlemishList;
  }
  // Only entries that lie inside the 2048-byte image are taken; a count that reaches past
  // its end is cut to the entries present.
  const uint32_t room = static_cast<uint32_t>((kEepromBytes - kBlemishEntries) / 4);
  const uint32_t taken = count < room ? count : room;
  for (uint32_t i = 0; i < taken; ++i)
    cam.blemishes[i] = big_endian(cam.eeprom + kBlemishEntries + 4 * i);
  cam.blemish_count = static_cast<int32_t>(taken);
  cam.blemish_list_valid = 1;
  return 0;
}

uint32_t read_eprom_value(const CameraRecord& cam, uint16_t offset, int16_t count) {
  if (count < 1) return 0;
  uint32_t result = 0;
  for (int i = 0; i < count; ++i) {
    const size_t at = static_cast<size_t>(offset) + static_cast<size_t>(i);
    if (at >= static_cast<size_t>(kEepromBytes)) break;  // nothing is read outside the image
    result = result * 256u + cam.eeprom[at];
  }
  return result;
}

}  // namespace ucap::device
