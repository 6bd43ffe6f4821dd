// The virtual camera's control surface (include/ucap/vcam.h) and the views for tests.
#include "ucap/vcam.h"

#include <climits>
#include <cstring>

#include "vcam/probe.h"
#include "vcam/internal.h"

namespace vcam {

BusUsage bus_usage() {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  BusUsage u;
  u.bandwidth_units = b.bandwidth_used;
  u.bandwidth_handles = static_cast<int>(b.bandwidth.size());
  for (int c = 0; c < 64; ++c) u.channels += static_cast<int>(b.channels_used >> c & 1);
  u.resources = static_cast<int>(b.resources.size());
  return u;
}

bool firmware_memory(int id, std::vector<uint8_t>* bytes, bool* started) {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto cam = find_camera(b, id);
  if (!cam) return false;
  if (bytes != nullptr) *bytes = cam->firmware;
  if (started != nullptr) *started = cam->firmware_started;
  return true;
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
      defects.push_back(static_cast<uint32_t>(y) * static_cast<uint32_t>(w) + static_cast<uint32_t>(x));
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
  if (!cam || !cam->attached || config == nullptr) return -1;
  if (!vcam::parse_config(config, false, &cam->cfg, &cam->faults, &b.open_set_fault, nullptr)) return -1;
  if (cam->faults.lapse_after == ~0u) {  // lapse=1: access lapses now
    cam->faults.lapse_after = 0;
    cam->access_open = false;
  }
  vcam::camera_build_eeprom(*cam);
  b.cv.notify_all();
  return 0;
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
  if (!cam) return -1;
  size_t need = cam->trace.size() + 1;
  if (need > static_cast<size_t>(INT_MAX)) return -1;
  if (buf == nullptr || size < 0 || static_cast<size_t>(size) < need) return static_cast<int>(need);
  std::memcpy(buf, cam->trace.c_str(), need);
  cam->trace.clear();
  return static_cast<int>(need);
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

}  // extern "C"
