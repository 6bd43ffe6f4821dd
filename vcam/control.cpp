// The virtual camera's control surface (include/ucap/vcam.h) and the views for tests.
#include "ucap/vcam.h"

#include <climits>
#include <cstring>

#include "vcam/internal.h"
#include "vcam/probe.h"

namespace vcam {

namespace {

// What `cam` holds, or the whole bus with null. Lock held.
UcapVcamUsage usage_of(const Bus& b, const Camera* cam) {
  UcapVcamUsage u{};
  for (const auto& [h, hr] : b.handles) {
    if (cam != nullptr && hr->cam.get() != cam) continue;
    ++u.handles;
    for (const Pending& p : b.notifications) u.notifications += p.handle == h ? 1 : 0;
  }
  for (const auto& c : b.cameras)
    if ((cam == nullptr || c.get() == cam) && c->frame_buffer[0]) u.frame_buffers += 2;
  for (const auto& [handle, bw] : b.bandwidth) {
    if (cam != nullptr && bw.owner != cam) continue;
    ++u.bandwidth_handles;
    u.bandwidth_units += static_cast<int>(bw.units);
  }
  for (int ch = 0; ch < 64; ++ch)
    if ((b.channels_used >> ch & 1) != 0 && (cam == nullptr || b.channel_owner[ch] == cam))
      ++u.channels;
  for (const auto& [handle, res] : b.resources)
    if (cam == nullptr || res.cam.lock().get() == cam) ++u.resources;
  return u;
}

// Copies a trace or request log by the rules of ucap_vcam_trace.
int take_log(std::string& log, char* buf, int size) {
  size_t need = log.size() + 1;
  if (need > static_cast<size_t>(INT_MAX)) return -1;
  if (buf == nullptr || size < 0 || static_cast<size_t>(size) < need) return static_cast<int>(need);
  std::memcpy(buf, log.c_str(), need);
  log.clear();
  return static_cast<int>(need);
}

}  // namespace

BusUsage bus_usage() {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  UcapVcamUsage all = usage_of(b, nullptr);
  BusUsage u;
  u.bandwidth_units = static_cast<uint32_t>(all.bandwidth_units);
  u.bandwidth_handles = all.bandwidth_handles;
  u.channels = all.channels;
  u.resources = all.resources;
  return u;
}

int capture_state(int id) {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = find_camera(b, id);
  if (!cam || !cam->capturing) return 0;
  return cam->awaiting_trigger ? 1 : 2;
}

uint32_t frame_buffer_size(int id) {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = find_camera(b, id);
  return cam ? cam->frame_buffer_size : 0;
}

bool expected_frame(int id, const FrameGeometry& g, std::vector<uint16_t>* samples) {
  SensorParams p;
  int w = 0, h = 0;
  std::vector<uint32_t> defects;
  {
    Bus& b = bus();
    std::lock_guard<std::mutex> lk(b.mu);
    auto cam = find_camera(b, id);
    if (!cam) return false;
    p = cam->cfg.sensor;
    w = cam->cfg.sensor_w;
    h = cam->cfg.sensor_h;
    for (const auto& [x, y] : cam->cfg.blemishes)
      defects.push_back(static_cast<uint32_t>(y) * static_cast<uint32_t>(w) +
                        static_cast<uint32_t>(x));
  }
  std::vector<uint16_t> s = expected_frame(p, w, h, defects, g);
  if (s.empty()) return false;
  *samples = std::move(s);
  return true;
}

}  // namespace vcam

using vcam::Bus;

extern "C" {

UCAP_API int ucap_vcam_reset(void) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  for (auto& cam : b.cameras) vcam::detach_camera(b, *cam);
  b.cameras.clear();
  b.open_set_fault = vcam::Fault{};
  b.bandwidth.clear();
  b.bandwidth_used = 0;
  b.channels_used = 0;
  b.channel_owner.fill(nullptr);
  b.resources.clear();
  b.cv.notify_all();
  return 0;
}

UCAP_API int ucap_vcam_attach(const char* config) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  return vcam::attach_camera(b, config == nullptr ? "" : config);
}

UCAP_API int ucap_vcam_detach(int id) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  if (!cam || !cam->attached) return -1;
  vcam::detach_camera(b, *cam);
  return 0;
}

UCAP_API int ucap_vcam_set(int id, const char* config) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  if (!cam || !cam->attached) {
    b.config_error = "no attached camera " + std::to_string(id);
    return -1;
  }
  b.config_error = vcam::parse_config(config, false, &cam->cfg, &cam->faults, &b.open_set_fault);
  if (!b.config_error.empty()) return -1;
  if (cam->faults.lapse_after == ~0u) {  // lapse=1: access lapses now
    cam->faults.lapse_after = 0;
    cam->access_open = false;
  }
  if (cam->faults.memory_release) {  // memory_stuck=0
    cam->faults.memory_release = false;
    vcam::camera_release_memory(*cam);
  }
  vcam::camera_build_eeprom(*cam);
  b.cv.notify_all();
  return 0;
}

UCAP_API int ucap_vcam_config_error(char* buf, int size) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  std::string copy = b.config_error;
  return vcam::take_log(copy, buf, size);
}

UCAP_API int ucap_vcam_bus_reset(void) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  vcam::bus_reset(b);
  return 0;
}

UCAP_API int ucap_vcam_trace(int id, char* buf, int size) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  return cam ? vcam::take_log(cam->trace, buf, size) : -1;
}

UCAP_API int ucap_vcam_requests(int id, char* buf, int size) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  return cam ? vcam::take_log(cam->requests, buf, size) : -1;
}

UCAP_API int ucap_vcam_trigger(int id) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  if (!cam || !cam->attached) return -1;
  if (!cam->awaiting_trigger) return 1;  // a pulse with nothing armed is lost
  cam->triggered = true;
  b.cv.notify_all();
  return 0;
}

UCAP_API int ucap_vcam_frame_count(int id) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  if (!cam) return -1;
  return static_cast<int>(cam->frames_sent & 0x7FFFFFFF);
}

UCAP_API int ucap_vcam_firmware(int id, int offset, unsigned char* buf, int size) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  if (!cam || offset < 0 || size < 0 || (buf == nullptr && size > 0) ||
      static_cast<uint64_t>(offset) + static_cast<uint64_t>(size) > vcam::kFirmwareSize)
    return -1;
  for (int i = 0; i < size; ++i) {
    size_t at = static_cast<size_t>(offset) + static_cast<size_t>(i);
    buf[i] = at < cam->firmware.size() ? cam->firmware[at] : 0xFF;
  }
  return static_cast<int>(cam->firmware_extent);
}

UCAP_API int ucap_vcam_firmware_started(int id) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  return cam ? static_cast<int>(cam->firmware_starts & 0x7FFFFFFF) : -1;
}

UCAP_API int ucap_vcam_usage(int id, UcapVcamUsage* usage) {
  Bus& b = vcam::bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = vcam::find_camera(b, id);
  if ((!cam && id != -1) || usage == nullptr) return -1;
  *usage = vcam::usage_of(b, cam.get());
  return 0;
}

}  // extern "C"
