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
    bool ok =
        base == 16 ? std::isxdigit(static_cast<unsigned char>(c)) != 0 : (c >= '0' && c <= '9');
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
  if (s == "0")
    *out = false;
  else if (s == "1")
    *out = true;
  else
    return false;
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
    parts.push_back(
        s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
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
    if (name == "cmd")
      base = kCommandBase;
    else if (name == "vendor")
      base = kVendorBase;
    else if (name == "rom")
      base = kRomBase;
    else if (name.size() == 5 && name.substr(0, 4) == "mode" && name[4] >= '0' && name[4] <= '7')
      base = kModeBlockBase + kModeBlockStride * static_cast<uint32_t>(name[4] - '0');
    else
      return false;
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
  if (f.remaining == 0)
    m.erase(key);
  else
    m[key].push_back(f);
}

// ---- the keys ----------------------------------------------------------------------------

// What a configuration string changes, built up word by word and taken over only when the
// whole string is good.
struct Draft {
  Settings cfg;
  CameraFaults faults;
  Fault bus_fault;
  bool blemishes_given = false;
  bool count_given = false;
};

// Parses a key's value into the draft; false for a value the key does not take.
using Apply = bool (*)(std::string_view value, Draft& d);

// Fields set straight from one value.
template <auto Field, int Base>
bool setting_word(std::string_view v, Draft& d) {
  return parse_u32(v, Base, &(d.cfg.*Field));
}
template <auto Field, int Lo, int Hi>
bool setting_int(std::string_view v, Draft& d) {
  return parse_int(v, Lo, Hi, &(d.cfg.*Field));
}
template <auto Field>
bool setting_bool(std::string_view v, Draft& d) {
  return parse_bool(v, &(d.cfg.*Field));
}
// 0..Num/Den: the upper bound as a fraction, since not every compiler takes floating-point
// template arguments yet (the quotient is the nearest double, as the decimal literal is).
template <auto Field, long long Num, long long Den = 1>
bool sensor_double(std::string_view v, Draft& d) {
  return parse_double(v, 0.0, static_cast<double>(Num) / static_cast<double>(Den),
                      &(d.cfg.sensor.*Field));
}
template <auto Field>
bool sensor_bool(std::string_view v, Draft& d) {
  return parse_bool(v, &(d.cfg.sensor.*Field));
}
template <auto Field, int Lo, int Hi>
bool sensor_int(std::string_view v, Draft& d) {
  return parse_int(v, Lo, Hi, &(d.cfg.sensor.*Field));
}
template <auto Field>
bool fault_count(std::string_view v, Draft& d) {
  return parse_u32(v, 10, &(d.faults.*Field));
}
// N or N:CODE: the next N operations fail with CODE (default ERROR_GEN_FAILURE).
template <auto Field>
bool count_fault(std::string_view v, Draft& d) {
  return parse_count_fault(v, kErrGenFailure, &(d.faults.*Field));
}

// One of a few words, each naming a value.
template <typename T, size_t N>
bool one_of(std::string_view v, const std::pair<std::string_view, T> (&words)[N], T* out) {
  for (const auto& [word, value] : words)
    if (v == word) {
      *out = value;
      return true;
    }
  return false;
}

bool id(std::string_view v, Draft& d) {
  if (v.empty() || v.size() > 1024) return false;
  for (char c : v)
    if (c == '#' || c == '\\' || static_cast<unsigned char>(c) < 0x21) return false;
  d.cfg.id_field = std::string(v);
  return true;
}

bool model(std::string_view v, Draft& d) {
  static constexpr std::pair<std::string_view, Model> kModels[] = {
      {"standard", Model::kStandard}, {"lumens", Model::kLumens}, {"foreign", Model::kForeign}};
  return one_of(v, kModels, &d.cfg.model);
}

bool sensor(std::string_view v, Draft& d) {
  return parse_size(v, 32, 4096, &d.cfg.sensor_w, &d.cfg.sensor_h) && d.cfg.sensor_w % 4 == 0 &&
         d.cfg.sensor_h % 4 == 0;
}

bool modes(std::string_view v, Draft& d) {
  uint32_t mask = 0;
  if (!v.empty()) {
    for (std::string_view m : split(v, ',')) {
      int mode = 0;
      if (!parse_int(m, 0, 7, &mode)) return false;
      mask |= 0x80000000u >> mode;
    }
  }
  d.cfg.mode_mask = mask;
  return true;
}

bool output(std::string_view v, Draft& d) {  // M:WxH
  auto parts = split(v, ':');
  int m = 0, w = 0, h = 0;
  if (parts.size() != 2 || !parse_int(parts[0], 0, 7, &m) ||
      !parse_size(parts[1], 1, 65535, &w, &h))
    return false;
  d.cfg.output_size[static_cast<size_t>(m)] =
      static_cast<uint32_t>(w) << 16 | static_cast<uint32_t>(h);
  return true;
}

bool uid(std::string_view v, Draft& d) {
  d.cfg.uid_set = true;
  return parse_u32(v, 16, &d.cfg.uid);
}

bool blemishes(std::string_view v, Draft& d) {
  d.cfg.blemishes.clear();
  if (!v.empty()) {
    for (std::string_view e : split(v, ',')) {
      auto xy = split(e, ':');
      int x = 0, y = 0;
      if (xy.size() != 2 || !parse_int(xy[0], 0, 8191, &x) || !parse_int(xy[1], 0, 8191, &y))
        return false;
      d.cfg.blemishes.emplace_back(x, y);
    }
  }
  d.blemishes_given = true;
  // Entries live at bytes 524 + 4i of the 2048-byte EEPROM.
  return d.cfg.blemishes.size() <= (kEepromSize - 524) / 4;
}

bool blemish_count(std::string_view v, Draft& d) {
  d.count_given = true;
  return parse_u32(v, 10, &d.cfg.blemish_count);
}

bool eeprom(std::string_view v, Draft& d) {  // OFF:HEXBYTES or -
  if (v == "-") {
    d.cfg.eeprom_bytes.clear();
    return true;
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
    d.cfg.eeprom_bytes[static_cast<size_t>(off) + i / 2] = static_cast<uint8_t>(byte);
  }
  return true;
}

bool timescale(std::string_view v, Draft& d) { return parse_double(v, 1.0, 1e6, &d.cfg.timescale); }

bool scene(std::string_view v, Draft& d) {
  static constexpr std::pair<std::string_view, Scene> kScenes[] = {{"chart", Scene::kChart},
                                                                   {"flat", Scene::kFlat},
                                                                   {"dark", Scene::kDark},
                                                                   {"gradient", Scene::kGradient},
                                                                   {"bar", Scene::kBar}};
  return one_of(v, kScenes, &d.cfg.sensor.scene);
}

bool response(std::string_view v, Draft& d) {
  auto parts = split(v, ',');
  if (parts.size() != 3) return false;
  std::array<double, 3> r{};
  for (size_t k = 0; k < 3; ++k)
    if (!parse_double(parts[k], 0.0, 100.0, &r[k])) return false;
  if (std::max({r[0], r[1], r[2]}) <= 0) return false;
  d.cfg.sensor.response = r;
  return true;
}

bool seed(std::string_view v, Draft& d) { return parse_u64(v, 0, &d.cfg.sensor.seed); }

bool binned_rows(std::string_view v, Draft& d) {
  static constexpr std::pair<std::string_view, bool> kRows[] = {{"pairs", false}, {"color", true}};
  return one_of(v, kRows, &d.cfg.sensor.color_rows);
}

bool fail_register(std::string_view v, FaultQueues& queues) {
  uint32_t addr = 0;
  Fault f;
  if (!parse_fault(v, parse_address, &addr, &f)) return false;
  set_fault(queues, addr, f);
  return true;
}
bool fail_read(std::string_view v, Draft& d) { return fail_register(v, d.faults.read); }
bool fail_write(std::string_view v, Draft& d) { return fail_register(v, d.faults.write); }

bool fail_ioctl(std::string_view v, Draft& d) {
  uint32_t code = 0;
  Fault f;
  auto hex = [](std::string_view s, uint32_t* out) { return parse_u32(s, 16, out); };
  if (!parse_fault(v, hex, &code, &f, true)) return false;
  set_fault(d.faults.ioctl, code, f);
  return true;
}

bool fail_open_set(std::string_view v, Draft& d) {
  return parse_count_fault(v, kErrGenFailure, &d.bus_fault);
}

bool lapse(std::string_view v, Draft& d) {
  bool now = false;
  if (!parse_bool(v, &now)) return false;
  if (now) d.faults.lapse_after = ~0u;  // marker: lapse at once (applied by the caller)
  return true;
}

bool lapse_after(std::string_view v, Draft& d) {
  return parse_u32(v, 10, &d.faults.lapse_after) && d.faults.lapse_after != ~0u;
}

bool drop_frames(std::string_view v, Draft& d) {  // N[:K]: K frames still arrive, then N never do
  auto parts = split(v, ':');
  d.faults.drop_skip = 0;
  return parts.size() <= 2 && parse_u32(parts[0], 10, &d.faults.drop_frames) &&
         (parts.size() < 2 || parse_u32(parts[1], 10, &d.faults.drop_skip));
}

bool memory_stuck(std::string_view v, Draft& d) {
  if (!parse_u32(v, 10, &d.faults.memory_stuck)) return false;
  d.faults.memory_release = d.faults.memory_stuck == 0;
  return true;
}

bool overrange(std::string_view v, Draft& d) {  // N[:VALUE]
  auto parts = split(v, ':');
  uint32_t value = 0xFFFF;
  if (parts.size() > 2 || !parse_u32(parts[0], 10, &d.faults.overrange) ||
      (parts.size() == 2 && (!parse_u32(parts[1], 16, &value) || value < 0x1000 || value > 0xFFFF)))
    return false;
  d.faults.overrange_value = static_cast<uint16_t>(value);
  return true;
}

bool misreport(std::string_view v, Draft& d) {  // ADDR:VALUE (hex) from now on; ADDR:- ends it
  const size_t colon = v.find(':');
  uint32_t addr = 0, value = 0;
  if (colon == std::string_view::npos || !parse_address(v.substr(0, colon), &addr)) return false;
  const std::string_view what = v.substr(colon + 1);
  if (what == "-") {
    d.faults.misreport.erase(addr);
    return true;
  }
  if (!parse_u32(what, 16, &value)) return false;
  d.faults.misreport[addr] = value;
  return true;
}

// Every key: its name, whether only an attach may give it, the values it takes (for the
// message that refuses a value) and what it does. See include/ucap/vcam.h.
constexpr bool kAttachOnly = true;
constexpr bool kAnyTime = false;
struct Key {
  std::string_view name;
  bool attach_only;
  std::string_view takes;
  Apply apply;
};
constexpr Key kKeys[] = {
    // identity
    {"model", kAttachOnly, "standard, lumens or foreign", model},
    {"id", kAttachOnly, "1..1024 characters without '#', '\\' or blanks", id},
    {"sensor", kAttachOnly, "WxH, multiples of 4 in 32..4096", sensor},
    {"modes", kAttachOnly, "modes 0..7 separated by commas, or nothing", modes},
    {"output", kAttachOnly, "M:WxH, mode 0..7, sides 1..65535", output},
    {"uid", kAttachOnly, "a hexadecimal word", uid},
    {"node", kAttachOnly, "0..62", setting_int<&Settings::node, 0, 62>},
    // camera and EEPROM
    {"packing", kAnyTime, "0 or 1", setting_bool<&Settings::packing>},
    {"vendor3", kAnyTime, "a hexadecimal word", setting_word<&Settings::vendor3, 16>},
    {"eeprom36", kAnyTime, "a hexadecimal word", setting_word<&Settings::eeprom36, 16>},
    {"blemishes", kAnyTime, "X:Y,... with 0..8191, at most 381", blemishes},
    {"blemish_count", kAnyTime, "a decimal word", blemish_count},
    {"second_count", kAnyTime, "a decimal word", setting_word<&Settings::second_count, 10>},
    {"eeprom", kAnyTime, "OFF:HEXBYTES within the 2048 bytes, or -", eeprom},
    {"busy_us", kAnyTime, "0..10000000", setting_int<&Settings::busy_us, 0, 10000000>},
    {"access_timeout", kAnyTime, "milliseconds", setting_word<&Settings::access_timeout_ms, 10>},
    // sensor model and clock
    {"timescale", kAnyTime, "1..1e6", timescale},
    {"scene", kAnyTime, "chart, flat, dark, gradient or bar", scene},
    {"blur", kAnyTime, "0..100 (pixels)", sensor_double<&SensorParams::blur, 100>},
    {"level", kAnyTime, "0..1e7", sensor_double<&SensorParams::level, 10000000>},
    {"response", kAnyTime, "R,G,B in 0..100, not all 0", response},
    {"noise", kAnyTime, "0 or 1", sensor_bool<&SensorParams::noise>},
    {"seed", kAnyTime, "a number", seed},
    {"dark", kAnyTime, "0..1e6", sensor_double<&SensorParams::dark, 1000000>},
    {"hot", kAnyTime, "0..0.1", sensor_double<&SensorParams::hot, 1, 10>},
    {"smear", kAnyTime, "0..0.01", sensor_double<&SensorParams::smear, 1, 100>},
    {"vignette", kAnyTime, "0..0.9", sensor_double<&SensorParams::vignette, 9, 10>},
    {"prnu", kAnyTime, "0..0.2", sensor_double<&SensorParams::prnu, 2, 10>},
    {"bias", kAnyTime, "0..1000", sensor_int<&SensorParams::bias, 0, 1000>},
    {"column_pattern", kAnyTime, "0..100", sensor_int<&SensorParams::column_pattern, 0, 100>},
    {"row_pattern", kAnyTime, "0..100", sensor_int<&SensorParams::row_pattern, 0, 100>},
    {"binned_rows", kAnyTime, "pairs or color", binned_rows},
    {"read_noise", kAnyTime, "0..100", sensor_double<&SensorParams::read_noise, 100>},
    {"frame_stamp", kAnyTime, "0 or 1", setting_bool<&Settings::frame_stamp>},
    // faults
    {"fail_read", kAnyTime, "ADDR:N:CODE", fail_read},
    {"fail_write", kAnyTime, "ADDR:N:CODE", fail_write},
    {"fail_ioctl", kAnyTime, "CODE:N:ERR (hexadecimal code)", fail_ioctl},
    {"fail_open", kAnyTime, "N or N:CODE", count_fault<&CameraFaults::open>},
    {"fail_detail", kAnyTime, "N or N:CODE", count_fault<&CameraFaults::detail>},
    {"fail_open_set", kAnyTime, "N or N:CODE", fail_open_set},
    {"lapse", kAnyTime, "0 or 1", lapse},
    {"lapse_after", kAnyTime, "a count", lapse_after},
    {"memory_error", kAnyTime, "a count", fault_count<&CameraFaults::memory_error>},
    {"apply_error", kAnyTime, "a count", fault_count<&CameraFaults::apply_error>},
    {"settings_error", kAnyTime, "a count", fault_count<&CameraFaults::settings_error>},
    {"apply_stuck", kAnyTime, "a count", fault_count<&CameraFaults::apply_stuck>},
    {"settings_stuck", kAnyTime, "a count", fault_count<&CameraFaults::settings_stuck>},
    {"detach_after", kAnyTime, "a count", fault_count<&CameraFaults::detach_after>},
    {"detach_in_exposure", kAnyTime, "a count", fault_count<&CameraFaults::detach_in_exposure>},
    {"replug_after", kAnyTime, "0..3600000 (ms)",
     setting_int<&Settings::replug_after_ms, 0, 3600000>},
    {"drop_frames", kAnyTime, "N or N:K", drop_frames},
    {"memory_stuck", kAnyTime, "a count", memory_stuck},
    {"overrange", kAnyTime, "N or N:HEX with HEX in 1000..FFFF", overrange},
    {"misreport", kAnyTime, "ADDR:HEX or ADDR:-", misreport},
};

const Key* find_key(std::string_view name) {
  for (const Key& k : kKeys)
    if (k.name == name) return &k;
  return nullptr;
}

// The checks that need the whole string; "" or what is wrong.
std::string cross_check(Draft& d) {
  const std::string sensor = std::to_string(d.cfg.sensor_w) + "x" + std::to_string(d.cfg.sensor_h);
  for (const auto& [x, y] : d.cfg.blemishes)
    if (x >= d.cfg.sensor_w || y >= d.cfg.sensor_h)
      return "blemishes=" + std::to_string(x) + ":" + std::to_string(y) + ": outside the " +
             sensor + " sensor";
  for (size_t m = 0; m < 8; ++m) {
    const uint32_t o = d.cfg.output_size[m];
    if (o != 0 && (static_cast<int>(o >> 16) > d.cfg.sensor_w ||
                   static_cast<int>(o & 0xFFFF) > d.cfg.sensor_h))
      return "output=" + std::to_string(m) + ":" + std::to_string(o >> 16) + "x" +
             std::to_string(o & 0xFFFF) + ": larger than the " + sensor + " sensor";
  }
  if (d.blemishes_given && !d.count_given)
    d.cfg.blemish_count = static_cast<uint32_t>(d.cfg.blemishes.size());
  return {};
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

std::string parse_config(const char* text, bool attaching, Settings* cfg, CameraFaults* faults,
                         Fault* bus_fault) {
  if (text == nullptr) return "no configuration";
  Draft d{*cfg, *faults, *bus_fault};
  std::istringstream words{std::string(text)};
  std::string word;
  while (words >> word) {
    const size_t eq = word.find('=');
    if (eq == std::string::npos || eq == 0) return word + ": not a key=value word";
    const std::string_view name = std::string_view(word).substr(0, eq);
    const std::string_view value = std::string_view(word).substr(eq + 1);
    const Key* key = find_key(name);
    if (key == nullptr) return word + ": no key " + std::string(name);
    if (key->attach_only && !attaching)
      return word + ": " + std::string(name) + "= is given at attach only";
    if (!key->apply(value, d))
      return word + ": " + std::string(name) + "= takes " + std::string(key->takes);
  }
  if (std::string wrong = cross_check(d); !wrong.empty()) return wrong;
  *cfg = d.cfg;
  *faults = d.faults;
  *bus_fault = d.bus_fault;
  return {};
}

}  // namespace vcam
