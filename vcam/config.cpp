// Configuration strings of the virtual camera: space-separated key=value words. Every
// word is checked before anything changes; one bad word refuses the whole string.
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include "vcam/internal.h"

namespace vcam {
namespace {

bool parse_u64(std::string_view s, int base, uint64_t* out) {
  if (s.empty() || s.size() > 40) return false;
  std::string text(s);
  if (base == 16 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text = text.substr(2);
  if (base == 0 && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text = text.substr(2);
  } else if (base == 0) {
    base = 10;
  }
  if (text.empty()) return false;
  for (char c : text) {
    bool ok = base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0
                         : (c >= '0' && c <= '9');
    if (!ok) return false;
  }
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text.c_str(), &end, base);
  if (errno != 0 || end == nullptr || *end != '\0') return false;
  *out = v;
  return true;
}

bool parse_u32(std::string_view s, int base, uint32_t* out) {
  uint64_t v = 0;
  if (!parse_u64(s, base, &v) || v > 0xFFFFFFFFull) return false;
  *out = static_cast<uint32_t>(v);
  return true;
}

bool parse_int(std::string_view s, int lo, int hi, int* out) {
  uint64_t v = 0;
  if (!parse_u64(s, 10, &v) || v < static_cast<uint64_t>(lo) || v > static_cast<uint64_t>(hi))
    return false;
  *out = static_cast<int>(v);
  return true;
}

bool parse_double(std::string_view s, double lo, double hi, double* out) {
  if (s.empty() || s.size() > 40) return false;
  std::string text(s);
  for (char c : text) {
    if (!(std::isdigit(static_cast<unsigned char>(c)) || c == '.' || c == 'e' || c == 'E' ||
          c == '-' || c == '+'))
      return false;
  }
  errno = 0;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
    return false;
  *out = v;
  return true;
}

bool parse_bool(std::string_view s, bool* out) {
  if (s == "0") *out = false;
  else if (s == "1") *out = true;
  else return false;
  return true;
}

// "WxH"
bool parse_size(std::string_view s, int lo, int hi, int* w, int* h) {
  size_t x = s.find('x');
  if (x == std::string_view::npos) return false;
  return parse_int(s.substr(0, x), lo, hi, w) && parse_int(s.substr(x + 1), lo, hi, h);
}

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (true) {
    size_t p = s.find(sep, start);
    parts.push_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
    if (p == std::string_view::npos) break;
    start = p + 1;
  }
  return parts;
}

// Register address: absolute hexadecimal, or cmd+OFF, vendor+OFF, modeM+OFF, rom+OFF.
bool parse_address(std::string_view s, uint32_t* out) {
  size_t plus = s.find('+');
  uint32_t base = 0;
  std::string_view off = s;
  if (plus != std::string_view::npos) {
    std::string_view name = s.substr(0, plus);
    off = s.substr(plus + 1);
    if (name == "cmd") base = kCommandBase;
    else if (name == "vendor") base = kVendorBase;
    else if (name == "rom") base = kRomBase;
    else if (name.size() == 5 && name.substr(0, 4) == "mode" && name[4] >= '0' && name[4] <= '7')
      base = kModeBlockBase + kModeBlockStride * static_cast<uint32_t>(name[4] - '0');
    else return false;
  }
  uint32_t v = 0;
  if (!parse_u32(off, 16, &v)) return false;
  uint64_t a = static_cast<uint64_t>(base) + v;
  if (a > 0xFFFFFFFFull || (a & 3) != 0) return false;
  *out = static_cast<uint32_t>(a);
  return true;
}

// KEY:N:CODE with KEY parsed by `key`, N decimal, CODE a nonzero error code (or 0 where
// `zero_code` allows it: a failure that leaves no error code).
template <typename KeyParser>
bool parse_fault(std::string_view s, KeyParser key, uint32_t* k, Fault* f, bool zero_code = false) {
  auto parts = split(s, ':');
  if (parts.size() != 3 || !key(parts[0], k)) return false;
  return parse_u32(parts[1], 10, &f->remaining) && parse_u32(parts[2], 0, &f->code) &&
         (f->code != 0 || zero_code);
}

// N or N:CODE (code default `def`).
bool parse_count_fault(std::string_view s, uint32_t def, Fault* f) {
  auto parts = split(s, ':');
  if (parts.size() > 2 || !parse_u32(parts[0], 10, &f->remaining)) return false;
  f->code = def;
  if (parts.size() == 2 && (!parse_u32(parts[1], 0, &f->code) || f->code == 0)) return false;
  return true;
}

// A count of 0 clears the target's faults; otherwise the stage queues up behind the others.
void set_fault(FaultQueues& m, uint32_t key, const Fault& f) {
  if (f.remaining == 0) m.erase(key);
  else m[key].push_back(f);
}

// Faults given as a plain count: the field they set, or null.
uint32_t CameraFaults::*count_fault(std::string_view key) {
  static constexpr std::pair<std::string_view, uint32_t CameraFaults::*> kCounts[] = {
      {"memory_error", &CameraFaults::memory_error},
      {"apply_error", &CameraFaults::apply_error},
      {"settings_error", &CameraFaults::settings_error},
      {"apply_stuck", &CameraFaults::apply_stuck},
      {"settings_stuck", &CameraFaults::settings_stuck},
      {"detach_after", &CameraFaults::detach_after},
      {"detach_in_exposure", &CameraFaults::detach_in_exposure},
  };
  for (const auto& [name, field] : kCounts)
    if (name == key) return field;
  return nullptr;
}

}  // namespace

bool take_fault(Fault& fault, uint32_t* code) {
  if (fault.remaining == 0) return false;
  --fault.remaining;
  *code = fault.code;
  return true;
}

bool take_fault(FaultQueues& faults, uint32_t key, uint32_t* code) {
  auto it = faults.find(key);
  if (it == faults.end() || it->second.empty()) return false;
  bool hit = take_fault(it->second.front(), code);
  if (it->second.front().remaining == 0) it->second.pop_front();
  if (it->second.empty()) faults.erase(it);
  return hit;
}

bool parse_config(const char* text, bool attaching, Settings* cfg_out, CameraFaults* faults_out,
                  Fault* bus_fault_out, int* sensor_keys) {
  if (text == nullptr) return false;
  Settings cfg = *cfg_out;
  CameraFaults faults = *faults_out;
  Fault bus_fault = *bus_fault_out;
  int sensor_count = 0;
  bool blemishes_given = false;
  bool count_given = false;

  std::istringstream words{std::string(text)};
  std::string word;
  while (words >> word) {
    size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) return false;
    std::string key = word.substr(0, eq);
    std::string_view v = std::string_view(word).substr(eq + 1);
    SensorParams& sp = cfg.sensor;

    if (key == "id") {
      if (!attaching || v.empty() || v.size() > 1024) return false;
      for (char c : v)
        if (c == '#' || c == '\\' || static_cast<unsigned char>(c) < 0x21) return false;
      cfg.id_field = std::string(v);
    } else if (key == "model") {
      if (!attaching) return false;
      if (v == "standard") cfg.model = Model::kStandard;
      else if (v == "lumens") cfg.model = Model::kLumens;
      else if (v == "foreign") cfg.model = Model::kForeign;
      else return false;
    } else if (key == "sensor") {
      if (!attaching || !parse_size(v, 32, 4096, &cfg.sensor_w, &cfg.sensor_h)) return false;
      if (cfg.sensor_w % 4 != 0 || cfg.sensor_h % 4 != 0) return false;
    } else if (key == "modes") {
      if (!attaching) return false;
      uint32_t mask = 0;
      if (!v.empty()) {
        for (std::string_view m : split(v, ',')) {
          int mode = 0;
          if (!parse_int(m, 0, 7, &mode)) return false;
          mask |= 0x80000000u >> mode;
        }
      }
      cfg.mode_mask = mask;
    } else if (key == "node") {
      if (!attaching || !parse_int(v, 0, 62, &cfg.node)) return false;
    } else if (key == "output") {  // output=M:WxH
      auto parts = split(v, ':');
      int m = 0, w = 0, h = 0;
      if (!attaching || parts.size() != 2 || !parse_int(parts[0], 0, 7, &m) ||
          !parse_size(parts[1], 1, 65535, &w, &h))
        return false;
      cfg.output_size[static_cast<size_t>(m)] = static_cast<uint32_t>(w) << 16 | static_cast<uint32_t>(h);
    } else if (key == "packing") {
      if (!parse_bool(v, &cfg.packing)) return false;
    } else if (key == "uid") {
      if (!attaching || !parse_u32(v, 16, &cfg.uid)) return false;
      cfg.uid_set = true;
    } else if (key == "vendor3") {
      if (!parse_u32(v, 16, &cfg.vendor3)) return false;
    } else if (key == "eeprom36") {
      if (!parse_u32(v, 16, &cfg.eeprom36)) return false;
    } else if (key == "blemishes") {
      cfg.blemishes.clear();
      if (!v.empty()) {
        for (std::string_view e : split(v, ',')) {
          auto xy = split(e, ':');
          int x = 0, y = 0;
          if (xy.size() != 2 || !parse_int(xy[0], 0, 8191, &x) || !parse_int(xy[1], 0, 8191, &y))
            return false;
          cfg.blemishes.emplace_back(x, y);
        }
      }
      // Entries live at bytes 524 + 4i of the 2048-byte EEPROM.
      if (cfg.blemishes.size() > (kEepromSize - 524) / 4) return false;
      blemishes_given = true;
    } else if (key == "blemish_count") {
      if (!parse_u32(v, 10, &cfg.blemish_count)) return false;
      count_given = true;
    } else if (key == "second_count") {
      if (!parse_u32(v, 10, &cfg.second_count)) return false;
    } else if (key == "eeprom") {  // eeprom=OFF:HEXBYTES or eeprom=-
      if (v == "-") {
        cfg.eeprom_bytes.clear();
        continue;
      }
      const size_t colon = v.find(':');
      int off = 0;
      if (colon == std::string_view::npos || !parse_int(v.substr(0, colon), 0, kEepromSize - 1, &off))
        return false;
      const std::string_view hex = v.substr(colon + 1);
      if (hex.empty() || hex.size() % 2 != 0 || off + hex.size() / 2 > kEepromSize) return false;
      for (size_t i = 0; i < hex.size(); i += 2) {
        uint32_t byte = 0;
        if (!parse_u32(hex.substr(i, 2), 16, &byte)) return false;
        cfg.eeprom_bytes[static_cast<size_t>(off) + i / 2] = static_cast<uint8_t>(byte);
      }
    } else if (key == "busy_polls") {
      if (!parse_int(v, 0, 1000, &cfg.busy_polls)) return false;
    } else if (key == "access_timeout") {
      if (!parse_u32(v, 10, &cfg.access_timeout_ms)) return false;
    } else if (key == "timescale") {
      if (!parse_double(v, 1.0, 1e6, &cfg.timescale)) return false;
    } else if (key == "scene") {
      ++sensor_count;
      if (v == "chart") sp.scene = Scene::kChart;
      else if (v == "flat") sp.scene = Scene::kFlat;
      else if (v == "dark") sp.scene = Scene::kDark;
      else if (v == "gradient") sp.scene = Scene::kGradient;
      else if (v == "bar") sp.scene = Scene::kBar;
      else return false;
    } else if (key == "blur") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 100.0, &sp.blur)) return false;
    } else if (key == "level") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 1e7, &sp.level)) return false;
    } else if (key == "response") {
      ++sensor_count;
      auto parts = split(v, ',');
      if (parts.size() != 3) return false;
      std::array<double, 3> r{};
      for (size_t k = 0; k < 3; ++k)
        if (!parse_double(parts[k], 0.0, 100.0, &r[k])) return false;
      if (std::max({r[0], r[1], r[2]}) <= 0) return false;
      sp.response = r;
    } else if (key == "noise") {
      ++sensor_count;
      if (!parse_bool(v, &sp.noise)) return false;
    } else if (key == "seed") {
      ++sensor_count;
      if (!parse_u64(v, 0, &sp.seed)) return false;
    } else if (key == "dark") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 1e6, &sp.dark)) return false;
    } else if (key == "hot") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 0.1, &sp.hot)) return false;
    } else if (key == "smear") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 1e-2, &sp.smear)) return false;
    } else if (key == "vignette") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 0.9, &sp.vignette)) return false;
    } else if (key == "prnu") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 0.2, &sp.prnu)) return false;
    } else if (key == "bias") {
      ++sensor_count;
      if (!parse_int(v, 0, 1000, &sp.bias)) return false;
    } else if (key == "column_pattern") {
      ++sensor_count;
      if (!parse_int(v, 0, 100, &sp.column_pattern)) return false;
    } else if (key == "row_pattern") {
      ++sensor_count;
      if (!parse_int(v, 0, 100, &sp.row_pattern)) return false;
    } else if (key == "binned_rows") {
      ++sensor_count;
      if (v == "pairs") sp.color_rows = false;
      else if (v == "color") sp.color_rows = true;
      else return false;
    } else if (key == "read_noise") {
      ++sensor_count;
      if (!parse_double(v, 0.0, 100.0, &sp.read_noise)) return false;
    } else if (key == "fail_read" || key == "fail_write") {
      uint32_t addr = 0;
      Fault f;
      if (!parse_fault(v, parse_address, &addr, &f)) return false;
      set_fault(key == "fail_read" ? faults.read : faults.write, addr, f);
    } else if (key == "fail_ioctl") {
      uint32_t code = 0;
      Fault f;
      auto hex = [](std::string_view s, uint32_t* out) { return parse_u32(s, 16, out); };
      if (!parse_fault(v, hex, &code, &f, true)) return false;
      set_fault(faults.ioctl, code, f);
    } else if (key == "fail_open") {
      if (!parse_count_fault(v, kErrGenFailure, &faults.open)) return false;
    } else if (key == "fail_detail") {
      if (!parse_count_fault(v, kErrGenFailure, &faults.detail)) return false;
    } else if (key == "fail_open_set") {
      if (!parse_count_fault(v, kErrGenFailure, &bus_fault)) return false;
    } else if (key == "lapse") {
      bool now = false;
      if (!parse_bool(v, &now)) return false;
      if (now) faults.lapse_after = ~0u;  // marker: lapse at once (applied by the caller)
    } else if (key == "lapse_after") {
      if (!parse_u32(v, 10, &faults.lapse_after) || faults.lapse_after == ~0u) return false;
    } else if (uint32_t CameraFaults::*count = count_fault(key)) {
      if (!parse_u32(v, 10, &(faults.*count))) return false;
    } else if (key == "drop_frames") {  // N[:K]: K frames still arrive, then N never do
      auto parts = split(v, ':');
      faults.drop_skip = 0;
      if (parts.size() > 2 || !parse_u32(parts[0], 10, &faults.drop_frames) ||
          (parts.size() == 2 && !parse_u32(parts[1], 10, &faults.drop_skip)))
        return false;
    } else if (key == "memory_stuck") {
      if (!parse_u32(v, 10, &faults.memory_stuck)) return false;
      faults.memory_release = faults.memory_stuck == 0;
    } else if (key == "overrange") {  // N[:VALUE]
      auto parts = split(v, ':');
      uint32_t value = 0xFFFF;
      if (parts.size() > 2 || !parse_u32(parts[0], 10, &faults.overrange) ||
          (parts.size() == 2 && (!parse_u32(parts[1], 16, &value) || value < 0x1000 || value > 0xFFFF)))
        return false;
      faults.overrange_value = static_cast<uint16_t>(value);
    } else if (key == "frame_stamp") {
      if (!parse_bool(v, &cfg.frame_stamp)) return false;
    } else if (key == "misreport") {
      // ADDR:VALUE (hex) makes the register read VALUE from now on; ADDR:- ends it.
      size_t colon = v.find(':');
      uint32_t addr = 0, value = 0;
      if (colon == std::string_view::npos || !parse_address(v.substr(0, colon), &addr)) return false;
      std::string_view what = v.substr(colon + 1);
      if (what == "-") {
        faults.misreport.erase(addr);
      } else {
        if (!parse_u32(what, 16, &value)) return false;
        faults.misreport[addr] = value;
      }
    } else {
      return false;
    }
  }

  // Cross-checks that need the whole string.
  for (const auto& [x, y] : cfg.blemishes)
    if (x >= cfg.sensor_w || y >= cfg.sensor_h) return false;
  for (size_t m = 0; m < 8; ++m) {
    uint32_t o = cfg.output_size[m];
    if (o != 0 && (static_cast<int>(o >> 16) > cfg.sensor_w || static_cast<int>(o & 0xFFFF) > cfg.sensor_h))
      return false;
  }
  if (blemishes_given && !count_given)
    cfg.blemish_count = static_cast<uint32_t>(cfg.blemishes.size());

  *cfg_out = cfg;
  *faults_out = faults;
  *bus_fault_out = bus_fault;
  if (sensor_keys != nullptr) *sensor_keys = sensor_count;
  return true;
}

}  // namespace vcam
