// The camera behind the virtual driver: configuration ROM, command registers, the
// scalable-image mode blocks, the vendor block with its access control, memory command,
// EEPROM and firmware memory. Called with the bus lock held.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vcam/internal.h"

namespace vcam {
namespace {

constexpr uint32_t kNodeVendorId = 0x0C4A7E;
constexpr uint32_t kChipIdHigh = 0x24;
constexpr uint32_t kBusyBit30 = 0x40000000;
constexpr uint32_t kApplyError = 0x00800000;   // bit 23
constexpr uint32_t kMemoryError = 0x20000000;  // bit 29
constexpr uint32_t kCodingPlain = 0x05000000;
constexpr uint32_t kCodingPacked = 0x85000000;

// CRC-16 of IEEE 1212 over quadlets.
uint16_t rom_crc(const std::vector<uint32_t>& q, size_t first, size_t count) {
  uint32_t crc = 0;
  for (size_t i = first; i < first + count; ++i) {
    for (int shift = 28; shift >= 0; shift -= 4) {
      uint32_t sum = ((crc >> 12) ^ (q[i] >> shift)) & 0xF;
      crc = ((crc << 4) ^ (sum << 12) ^ (sum << 5) ^ sum) & 0xFFFF;
    }
  }
  return static_cast<uint16_t>(crc);
}

void text_leaf(std::vector<uint32_t>& rom, const char* text) {
  size_t header = rom.size();
  rom.push_back(0);
  rom.push_back(0);  // textual descriptor, minimal ASCII
  rom.push_back(0);
  size_t n = std::strlen(text);
  for (size_t i = 0; i < n; i += 4) {
    uint32_t q = 0;
    for (size_t k = 0; k < 4; ++k)
      q = q << 8 | (i + k < n ? static_cast<uint8_t>(text[i + k]) : 0u);
    rom.push_back(q);
  }
  size_t len = rom.size() - header - 1;
  rom[header] = static_cast<uint32_t>(len) << 16 | rom_crc(rom, header + 1, len);
}

// The configuration ROM from 0xF0000400, one quadlet per entry.
std::vector<uint32_t> build_rom(const Camera& cam) {
  std::vector<uint32_t> r(23, 0);
  const char* vendor = "Vela Optic";
  const char* model = "Tessera LX20";
  if (cam.cfg.model == Model::kLumens) vendor = "Vela Optic Lumens";
  if (cam.cfg.model == Model::kForeign) {
    vendor = "Corvid Instruments";
    model = "Lynx 2";
  }
  r[1] = 0x31333934;  // "1394"
  r[2] = 0x20FFA002;  // isc, cycle clock accuracy, max_rec, S400
  r[3] = kNodeVendorId << 8 | kChipIdHigh;
  r[4] = cam.cfg.uid;
  r[0] = 0x04u << 24 | 0x04u << 16 | rom_crc(r, 1, 4);
  // root directory at 0x414
  r[6] = 0x03u << 24 | kNodeVendorId;
  r[7] = 0x0C0083C0;       // node capabilities
  r[8] = 0x8Du << 24 | 2;  // node unique id leaf at 0x428
  r[9] = 0xD1u << 24 | 4;  // unit directory at 0x434
  r[5] = 4u << 16 | rom_crc(r, 6, 4);
  // node unique id leaf at 0x428
  r[11] = kNodeVendorId << 8 | kChipIdHigh;
  r[12] = cam.cfg.uid;
  r[10] = 2u << 16 | rom_crc(r, 11, 2);
  // unit directory at 0x434
  r[14] = 0x12u << 24 | 0x00A02D;  // unit kind: a 1394 digital camera
  r[15] = 0x13u << 24 | 0x000102;  // unit software version
  r[16] = 0xD4u << 24 | 1;         // unit dependent directory at 0x444
  r[13] = 3u << 16 | rom_crc(r, 14, 3);
  // unit dependent directory at 0x444
  r[18] = 0x40u << 24 | (kCommandBase - 0xF0000000u) / 4;  // command registers
  r[19] = 0x81u << 24 | 3;                                 // vendor name leaf at 0x458
  r[17] = 0;
  // r[20]: model name leaf entry, filled once the first leaf's length is known
  r.resize(21);
  // the name leaves directly after the directory
  size_t vendor_leaf = r.size();
  text_leaf(r, vendor);
  size_t model_leaf = r.size();
  text_leaf(r, model);
  r[19] = 0x81u << 24 | static_cast<uint32_t>(vendor_leaf - 19);
  r[20] = 0x82u << 24 | static_cast<uint32_t>(model_leaf - 20);
  r[17] = 3u << 16 | rom_crc(r, 18, 3);
  return r;
}

bool offered(const Camera& cam, int m) {
  return m >= 0 && m < 8 && (cam.cfg.mode_mask & (0x80000000u >> m)) != 0;
}

uint32_t mode_block(int m) { return kModeBlockBase + kModeBlockStride * static_cast<uint32_t>(m); }

void trace_line(Camera& cam, const char* kind, uint32_t address, uint32_t value) {
  char line[40];
  std::snprintf(line, sizeof line, "%s %08X %08X\n", kind, address, value);
  append_log(cam.trace, line);
}

uint32_t output_size(const Camera& cam, int m) {
  uint32_t o = cam.cfg.output_size[static_cast<size_t>(m)];
  if (o != 0) return o;
  return static_cast<uint32_t>(cam.cfg.sensor_w) << 16 | static_cast<uint32_t>(cam.cfg.sensor_h);
}

int rows_of(int mode, const ModeGeometry& g) {
  return mode == 0 ? g.height / (2 * g.binning) : g.height / g.binning;
}

// Access to the vendor block: open, not lapsed.
bool access_held(Camera& cam) {
  if (cam.access_open && Clock::now() >= cam.access_deadline) cam.access_open = false;
  return cam.access_open;
}

void renew_access(Camera& cam) {
  uint32_t ms =
      cam.cfg.access_timeout_ms != 0 ? cam.cfg.access_timeout_ms : cam.access_timeout_word;
  cam.access_deadline = Clock::now() + std::chrono::milliseconds(ms);
}

// Counts an accepted vendor write against the lapse fault.
void count_vendor_write(Camera& cam) {
  if (cam.faults.lapse_after == 0) return;
  if (--cam.faults.lapse_after == 0) cam.access_open = false;
}

// Geometry check of a mode apply; true when the camera can read it out.
bool geometry_from_words(const Camera& cam, int m, const ModeState& ms, ModeGeometry* g) {
  uint32_t expected_low = m == 0 ? 0x0000 : 0x00C0;
  if ((ms.binning_word & 0xFF00FFFF) != (0x01000000 | expected_low)) return false;
  int b = static_cast<int>(ms.binning_word >> 16 & 0xFF);
  if (b < 1 || b > 8) return false;
  int left = static_cast<int>(ms.position_word >> 16),
      top = static_cast<int>(ms.position_word & 0xFFFF);
  int w = static_cast<int>(ms.size_word >> 16), h = static_cast<int>(ms.size_word & 0xFFFF);
  int g2 = 2 * b;
  if (left % g2 || top % g2 || w % g2 || h % g2) return false;
  if (w < 16 * b || h < 16 * b) return false;
  if (left + w > cam.cfg.sensor_w || top + h > cam.cfg.sensor_h) return false;
  ModeGeometry out{b, left, top, w, h};
  if (m != 0 && rows_of(m, out) % 2 != 0) return false;  // two fields of equal rows
  *g = out;
  return true;
}

// True once when a running command's time is up: its effect is due now.
bool completes(PolledCommand& c) {
  if (!c.pending || c.stuck || Clock::now() < c.done_at) return false;
  c.pending = false;
  return true;
}

// A command register read: the busy bits while the command runs, then its final value.
uint32_t poll(PolledCommand& c, bool* finished_now) {
  *finished_now = completes(c);
  return c.pending ? c.value | c.busy_bits : c.value;
}

// Starts a command; one that failed (`failed`) ends at once with its error bit.
void start_command(Camera& cam, PolledCommand& c, uint32_t final_value, uint32_t busy_bits,
                   bool failed) {
  c.value = final_value;
  c.busy_bits = busy_bits;
  c.pending = !failed;
  c.stuck = false;
  c.done_at = Clock::now() +
              std::chrono::duration_cast<Clock::duration>(
                  std::chrono::duration<double, std::micro>(cam.cfg.busy_us / cam.cfg.timescale));
}

// A command just started stays busy for good while `stuck` counts commands to hold.
void stay_busy(uint32_t& stuck, PolledCommand& c) {
  if (stuck == 0) return;
  --stuck;
  c.pending = c.stuck = true;
}

void finish_memory(Camera& cam) {
  uint32_t v = cam.pending_memory;
  cam.pending_memory = 0;
  if ((cam.memory.value & kMemoryError) != 0) return;
  if ((v & 0xFFFFF800) == 0x4801D000) {
    uint32_t off = v & 0x7FF;
    std::memcpy(cam.window.data(), cam.eeprom.data() + off, 128);
  } else if ((v & 0xFF000000) == 0x88000000) {
    uint32_t off = v & 0x00FFFFFF;
    if (cam.firmware.size() < kFirmwareSize) cam.firmware.resize(kFirmwareSize, 0xFF);
    std::memcpy(cam.firmware.data() + off, cam.window.data(), 128);
    cam.firmware_extent = std::max(cam.firmware_extent, off + 128);
  }
}

void write_memory_command(Camera& cam, uint32_t v) {
  bool ok = false;
  if ((v & 0xFFFFF800) == 0x4801D000)
    ok = (v & 0x7FF) + 128 <= kEepromSize;
  else if ((v & 0xFF000000) == 0x88000000)
    ok = (v & 0x00FFFFFF) + 128 <= kFirmwareSize;
  if (cam.faults.memory_error > 0) {
    --cam.faults.memory_error;
    ok = false;
  }
  uint32_t final_value = (v & ~0xE0000000u) | (ok ? 0 : kMemoryError);
  cam.pending_memory = ok ? v : 0;
  start_command(cam, cam.memory, final_value, (v & 0xC0000000u) | 0x40000000u, !ok);
  stay_busy(cam.faults.memory_stuck, cam.memory);
  if (completes(cam.memory)) finish_memory(cam);
}

void finish_apply(Camera& cam, int m) {
  ModeState& ms = cam.modes[static_cast<size_t>(m)];
  ModeGeometry g;
  if ((ms.apply.value & kApplyError) == 0 && geometry_from_words(cam, m, ms, &g)) ms.geometry = g;
}

void write_apply(Camera& cam, int m, uint32_t v) {
  ModeState& ms = cam.modes[static_cast<size_t>(m)];
  if (v != kBusyBit30) {  // anything else is stored and does nothing
    ms.apply = PolledCommand{v};
    return;
  }
  ModeGeometry g;
  bool ok = geometry_from_words(cam, m, ms, &g);
  if (cam.faults.apply_error > 0) {
    --cam.faults.apply_error;
    ok = false;
  }
  start_command(cam, ms.apply, ok ? 0 : kApplyError, kBusyBit30, !ok);
  stay_busy(cam.faults.apply_stuck, ms.apply);
  if (completes(ms.apply)) finish_apply(cam, m);
}

void finish_settings(Camera& cam, int m) {
  ModeState& ms = cam.modes[static_cast<size_t>(m)];
  if ((ms.settings.value & kApplyError) == 0) ms.coding = ms.coding_written;
}

void write_settings(Camera& cam, int m, uint32_t v) {
  ModeState& ms = cam.modes[static_cast<size_t>(m)];
  if (v != kBusyBit30) {
    ms.settings = PolledCommand{v};
    return;
  }
  bool ok =
      ms.coding_written == kCodingPlain || (ms.coding_written == kCodingPacked && cam.cfg.packing);
  if (cam.faults.settings_error > 0) {
    --cam.faults.settings_error;
    ok = false;
  }
  start_command(cam, ms.settings, ok ? 0 : kApplyError, kBusyBit30, !ok);
  stay_busy(cam.faults.settings_stuck, ms.settings);
  if (completes(ms.settings)) finish_settings(cam, m);
}

void initialise_commands(Camera& cam) {
  cam.command = {{0x604, 0}, {0x608, 0xE0000000}, {0x60C, 0x02000000},
                 {0x61C, 0}, {0x81C, 0x02000190}, {0x830, 0}};
}

}  // namespace

std::string camera_path(const Camera& cam) {
  const char* vm = "vela_optic&tessera_lx20";
  if (cam.cfg.model == Model::kLumens) vm = "vela_optic_lumens&tessera_lx20";
  if (cam.cfg.model == Model::kForeign) vm = "corvid_instruments&lynx_2";
  return std::string("\\\\?\\1394#") + vm + "#" + cam.cfg.id_field +
         "#{c459df55-db08-11d1-b009-00a0c9081ff6}";
}

void camera_build_eeprom(Camera& cam) {
  cam.eeprom.fill(0);
  const char* tag = "VO TX20";
  std::memcpy(cam.eeprom.data(), tag, std::strlen(tag));
  put_be32(cam.eeprom.data() + 8, cam.cfg.uid);
  put_be32(cam.eeprom.data() + 144, cam.cfg.eeprom36);
  put_be32(cam.eeprom.data() + 512, cam.cfg.blemish_count);
  put_be32(cam.eeprom.data() + 516, cam.cfg.second_count);
  size_t i = 0;
  for (const auto& [x, y] : cam.cfg.blemishes) {
    uint32_t pos = static_cast<uint32_t>(y) * static_cast<uint32_t>(cam.cfg.sensor_w) +
                   static_cast<uint32_t>(x);
    put_be32(cam.eeprom.data() + 524 + 4 * i, pos);
    ++i;
  }
  for (const auto& [offset, byte] : cam.cfg.eeprom_bytes) cam.eeprom[offset] = byte;
}

void camera_power_on(Camera& cam) {
  initialise_commands(cam);
  for (int m = 0; m < 8; ++m) {
    ModeState ms;
    ms.binning_word = m == 0 ? 0x01010000 : 0x010100C0;
    ms.position_word = 0;
    ms.size_word =
        static_cast<uint32_t>(cam.cfg.sensor_w) << 16 | static_cast<uint32_t>(cam.cfg.sensor_h);
    ms.geometry = ModeGeometry{1, 0, 0, cam.cfg.sensor_w, cam.cfg.sensor_h};
    cam.modes[static_cast<size_t>(m)] = ms;
  }
  cam.access_open = false;
  cam.access_timeout_word = 0xFFF;
  cam.memory = PolledCommand{};
  cam.pending_memory = 0;
  camera_build_eeprom(cam);
}

void camera_release_memory(Camera& cam) {
  if (!cam.memory.stuck) return;
  cam.memory.stuck = false;
  if (completes(cam.memory)) finish_memory(cam);
}

void camera_transfer_shape(const Camera& cam, int m, uint32_t* bpp, uint32_t* ppf) {
  const ModeState& ms = cam.modes[static_cast<size_t>(m)];
  int rows = rows_of(m, ms.geometry);
  size_t payload = payload_bytes(ms.geometry.width, rows, m, ms.coding == kCodingPacked);
  size_t packets = (payload + 4095) / 4096;
  if (packets == 0) packets = 1;
  size_t per = (payload + packets - 1) / packets;
  per = (per + 7) / 8 * 8;
  *bpp = static_cast<uint32_t>(per);
  *ppf = static_cast<uint32_t>(packets);
}

Readout camera_readout(const Camera& cam) {
  Readout r;
  auto cmd = [&](uint32_t off) {
    auto it = cam.command.find(off);
    return it == cam.command.end() ? 0u : it->second;
  };
  r.mode = static_cast<int>(cmd(0x604) >> 29);
  const ModeState& ms = cam.modes[static_cast<size_t>(r.mode)];
  r.geometry = ms.geometry;
  r.packed = ms.coding == kCodingPacked;
  r.ticks = (cmd(0x81C) & 0xFFF) | (cam.register_014 & 0xFFFFF) << 12;
  camera_transfer_shape(cam, r.mode, &r.bytes_per_packet, &r.packets_per_frame);
  r.channel = cmd(0x60C) >> 28;
  r.speed = 1u << (cmd(0x60C) >> 24 & 3);
  r.sendable = cmd(0x608) == 0xE0000000u && offered(cam, r.mode);
  return r;
}

bool camera_read(Camera& cam, uint32_t a, uint32_t* value, uint32_t* err) {
  *err = kErrGenFailure;
  if ((a & 3) != 0) return false;
  uint32_t v = 0;
  bool ok = true;
  if (a >= kRomBase && a < kRomBase + 0x400) {
    std::vector<uint32_t> rom = build_rom(cam);
    uint32_t i = (a - kRomBase) / 4;
    if (i >= rom.size()) return false;
    v = rom[i];
  } else if (a >= kCommandBase && a < kCommandBase + 0x1000) {
    uint32_t off = a - kCommandBase;
    if (off == 0x000)
      v = 0;
    else if (off == 0x100)
      v = 0x01000000;  // format 7 only
    else if (off == 0x19C)
      v = cam.cfg.mode_mask;
    else if (off >= 0x2E0 && off < 0x300) {
      int m = static_cast<int>((off - 0x2E0) / 4);
      v = offered(cam, m) ? (mode_block(m) - 0xF0000000u) / 4 : 0;
    } else if (off == 0x480)
      v = (kVendorBase - 0xF0000000u) / 4;
    else if (auto it = cam.command.find(off); it != cam.command.end())
      v = it->second;
    else
      ok = false;
  } else if (a >= kModeBlockBase && a < kModeBlockBase + 8 * kModeBlockStride) {
    int m = static_cast<int>((a - kModeBlockBase) / kModeBlockStride);
    uint32_t off = (a - kModeBlockBase) % kModeBlockStride;
    if (!offered(cam, m)) return false;
    ModeState& ms = cam.modes[static_cast<size_t>(m)];
    const ModeGeometry& g = ms.geometry;
    uint32_t bpp = 0, ppf = 0;
    camera_transfer_shape(cam, m, &bpp, &ppf);
    int rows = rows_of(m, g);
    int top_out = m == 0 ? g.top / (2 * g.binning) : g.top / g.binning;
    bool done = false;
    switch (off) {
      case 0x000:
        v = static_cast<uint32_t>(cam.cfg.sensor_w) << 16 | static_cast<uint32_t>(cam.cfg.sensor_h);
        break;
      case 0x004: v = 2u << 16 | 2u; break;  // positions and sizes: multiples of 2b
      case 0x008: v = static_cast<uint32_t>(g.left) << 16 | static_cast<uint32_t>(top_out); break;
      case 0x00C: v = static_cast<uint32_t>(g.width) << 16 | static_cast<uint32_t>(rows); break;
      case 0x010: v = ms.coding_written; break;
      case 0x014: v = cam.cfg.packing ? 0x84000000 : 0x04000000; break;  // coding inquiry
      case 0x024: v = 0x80000000u | (cam.cfg.packing ? 1u << 26 : 0u); break;
      case 0x03C: v = bpp * ppf; break;
      case 0x044: v = bpp << 16 | bpp; break;
      case 0x048: v = ppf; break;
      case 0x04C: v = 2u << 16 | 2u; break;
      case 0x07C:
        v = poll(ms.settings, &done);
        if (done) finish_settings(cam, m);
        break;
      default: ok = false;
    }
  } else if (a >= kVendorBase && a < kVendorBase + 0x200) {
    uint32_t off = a - kVendorBase;
    bool done = false;
    if (off == 0x000)
      v = access_held(cam) ? kAccessKey : 0xFFFFFFFF;
    else if (off == 0x004)
      v = cam.access_timeout_word;
    else if (off == 0x008)
      v = cam.firmware_starts > 0 ? 0x80000000u : 0;
    else if (off == 0x00C)
      v = cam.cfg.vendor3;
    else if (off == 0x014)
      v = cam.register_014;
    else if (off == 0x01C)
      v = cam.shutter_word;
    else if (off == 0x030)
      v = cam.capture_control;
    else if (off == 0x070) {
      v = poll(cam.memory, &done);
      if (done) finish_memory(cam);
    } else if (off >= 0x080 && off < 0x100)
      v = be32(cam.window.data() + (off - 0x080));
    else if (off >= 0x104 && off < 0x200 && offered(cam, static_cast<int>((off - 0x104) / 32))) {
      int m = static_cast<int>((off - 0x104) / 32);
      ModeState& ms = cam.modes[static_cast<size_t>(m)];
      switch ((off - 0x104) % 32) {
        case 0x00: v = ms.binning_word; break;
        case 0x08: v = output_size(cam, m); break;
        case 0x0C: v = ms.position_word; break;
        case 0x10: v = ms.size_word; break;
        case 0x18:
          v = poll(ms.apply, &done);
          if (done) finish_apply(cam, m);
          break;
        default: ok = false;
      }
    } else
      ok = false;
  } else {
    ok = false;
  }
  if (!ok) return false;
  *value = v;
  *err = 0;
  trace_line(cam, "R", a, v);
  return true;
}

bool camera_write(Camera& cam, uint32_t a, uint32_t v, uint32_t* err) {
  *err = kErrGenFailure;
  if ((a & 3) != 0) return false;
  if (a >= kCommandBase && a < kCommandBase + 0x1000) {
    uint32_t off = a - kCommandBase;
    if (off == 0x000) {
      if (v & 0x80000000u) initialise_commands(cam);
    } else if (off == 0x61C) {
      cam.command[off] = v;
      if ((v & 0x80000000u) == 0) {  // one-shot cleared: a pending exposure ends
        ++cam.cancel_serial;
      }
    } else if (cam.command.count(off) != 0) {
      cam.command[off] = v;
    } else {
      return false;
    }
  } else if (a >= kModeBlockBase && a < kModeBlockBase + 8 * kModeBlockStride) {
    int m = static_cast<int>((a - kModeBlockBase) / kModeBlockStride);
    uint32_t off = (a - kModeBlockBase) % kModeBlockStride;
    if (!offered(cam, m)) return false;
    if (off == 0x010)
      cam.modes[static_cast<size_t>(m)].coding_written = v;
    else if (off == 0x07C)
      write_settings(cam, m, v);
    else
      return false;
  } else if (a >= kVendorBase && a < kVendorBase + 0x200) {
    uint32_t off = a - kVendorBase;
    if (off == 0x000) {
      if (v == kAccessKey) {
        cam.access_open = true;
        renew_access(cam);
      } else {
        cam.access_open = false;  // 0xFFFFFFFF releases; any other value too
      }
      trace_line(cam, "W", a, v);
      count_vendor_write(cam);
      *err = 0;
      return true;
    }
    if (!access_held(cam)) return false;  // the camera refuses: no vendor access
    if (off == 0x004)
      cam.access_timeout_word = v & 0xFFFF;
    else if (off == 0x008)
      cam.firmware_starts += v == 0x40000000u ? 1 : 0;
    else if (off == 0x014)
      cam.register_014 = v;
    else if (off == 0x01C)
      cam.shutter_word = v;
    else if (off == 0x030)
      cam.capture_control = v;
    else if (off == 0x070) {
      if (completes(cam.memory)) finish_memory(cam);
      if (cam.memory.pending) return false;  // still busy with the last command
      write_memory_command(cam, v);
    } else if (off >= 0x080 && off < 0x100)
      put_be32(cam.window.data() + (off - 0x080), v);
    else if (off >= 0x104 && off < 0x200 && offered(cam, static_cast<int>((off - 0x104) / 32))) {
      int m = static_cast<int>((off - 0x104) / 32);
      ModeState& ms = cam.modes[static_cast<size_t>(m)];
      switch ((off - 0x104) % 32) {
        case 0x00: ms.binning_word = v; break;
        case 0x0C: ms.position_word = v; break;
        case 0x10: ms.size_word = v; break;
        case 0x18: write_apply(cam, m, v); break;
        default: return false;
      }
    } else {
      return false;
    }
    renew_access(cam);
    trace_line(cam, "W", a, v);
    count_vendor_write(cam);
    *err = 0;
    return true;
  } else {
    return false;
  }
  trace_line(cam, "W", a, v);
  *err = 0;
  return true;
}

bool camera_block_read(Camera& cam, uint32_t a, uint8_t* data, uint32_t* err) {
  *err = kErrGenFailure;
  if (a == kVendorBase + 0x080) {
    std::memcpy(data, cam.window.data(), 128);
  } else if (a >= kRomBase && a < kRomBase + 0x400 && (a & 3) == 0) {
    std::vector<uint32_t> rom = build_rom(cam);
    uint32_t i = (a - kRomBase) / 4;
    if (i + 32 > rom.size()) return false;
    for (uint32_t k = 0; k < 32; ++k) put_be32(data + 4 * k, rom[i + k]);
  } else {
    return false;
  }
  *err = 0;
  trace_line(cam, "BR", a, be32(data));
  return true;
}

bool camera_block_write(Camera& cam, uint32_t a, const uint8_t* data, uint32_t* err) {
  *err = kErrGenFailure;
  if (a != kVendorBase + 0x080 || !access_held(cam)) return false;
  std::memcpy(cam.window.data(), data, 128);
  renew_access(cam);
  trace_line(cam, "BW", a, be32(data));
  count_vendor_write(cam);
  *err = 0;
  return true;
}

}  // namespace vcam
