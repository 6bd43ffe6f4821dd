// One frame of the virtual camera: the driver arms the camera through the register named
// in the capture wait set-up, the camera exposes (after a trigger, for the trigger kinds),
// reads the sensor out and sends the frame at the bus rate its packets imply; the driver
// puts it into the selected frame buffer. Any of cancel capture wait, a one-shot register
// cleared, stop transfer, freed resources, a closed handle or an unplugged camera ends
// the wait, and so does the time-out of kind 0x80.
#include <algorithm>
#include <cstring>

#include "vcam/internal.h"

namespace vcam {
namespace {

Clock::duration scaled(double seconds, double timescale) {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(seconds / timescale));
}

std::vector<uint32_t> defects_of(const Camera& cam) {
  std::vector<uint32_t> d;
  for (const auto& [x, y] : cam.cfg.blemishes)
    d.push_back(static_cast<uint32_t>(y) * static_cast<uint32_t>(cam.cfg.sensor_w) +
                static_cast<uint32_t>(x));
  return d;
}

// The over-range fault: every sample of the 2 x 2 cells whose cell column plus cell row is
// even takes `value`.
void mark_overrange(uint16_t* samples, int width, int rows, uint16_t value) {
  for (int y = 0; y < rows; ++y) {
    uint16_t* row = samples + static_cast<size_t>(y) * static_cast<size_t>(width);
    for (int x = 0; x < width; ++x)
      if ((x / 2 + y / 2) % 2 == 0) row[x] = value;
  }
}

// The frame number in the first two samples of the first row: its low 12 bits, then the next 12.
void stamp_frame(uint16_t* samples, int width, uint64_t number) {
  if (width < 2) return;
  samples[0] = static_cast<uint16_t>(number & 0xFFF);
  samples[1] = static_cast<uint16_t>(number >> 12 & 0xFFF);
}

}  // namespace

bool capture_frame(Bus& b, std::unique_lock<std::mutex>& lk, HandleRec& hr, Camera& cam,
                   uint64_t resource, uint32_t frame_bytes, uint32_t* err) {
  cam.capturing = true;
  struct Done {
    Bus& b;
    Camera& cam;
    ~Done() {
      cam.capturing = false;
      cam.awaiting_trigger = false;
      b.cv.notify_all();
    }
  } done{b, cam};

  const uint64_t stop0 = b.resources[resource].stop_serial;
  const uint32_t selected = cam.buffer_select;
  const double timescale = cam.cfg.timescale;
  const bool trigger = cam.wait_kind != 0x80;

  // The driver arms the frame: one-shot, or trigger mode on with the polarity.
  uint32_t arm = trigger ? cam.wait_kind << 24 : 0x80000000u;
  uint32_t ignored = 0;
  camera_write(cam, cam.wait_register, arm, &ignored);
  const uint64_t armed_cancel = cam.cancel_serial;
  Readout rd = camera_readout(cam);

  Clock::time_point deadline = Clock::now() + scaled(cam.wait_timeout_ms / 1000.0, timescale);
  const bool has_deadline = !trigger;

  auto ended = [&]() -> uint32_t {
    if (!cam.attached) return kErrDeviceNotConnected;
    if (hr.closed || cam.cancel_serial != armed_cancel) return kErrOperationAborted;
    auto it = b.resources.find(resource);
    if (it == b.resources.end() || it->second.stop_serial != stop0) return kErrOperationAborted;
    return 0;
  };
  // Waits until `until` (or `ready()`); 0, or why the wait ended first.
  auto wait = [&](Clock::time_point until, auto ready) -> uint32_t {
    while (true) {
      if (uint32_t c = ended()) return c;
      if (ready()) return 0;
      Clock::time_point now = Clock::now();
      if (has_deadline && now >= deadline) return kErrSemTimeout;
      if (now >= until) return 0;
      Clock::time_point next = std::min(until, now + std::chrono::hours(1));
      if (has_deadline) next = std::min(next, deadline);
      b.cv.wait_until(lk, next);
    }
  };
  auto never = [] { return false; };
  const Clock::time_point forever = Clock::time_point::max() - std::chrono::hours(24 * 365);

  if (trigger) {
    cam.awaiting_trigger = true;
    cam.triggered = false;
    uint32_t c = wait(forever, [&] { return cam.triggered; });
    cam.awaiting_trigger = false;
    if (c != 0) {
      *err = c;
      return false;
    }
  }
  // The exposure; a camera set to be unplugged during this one goes halfway.
  Clock::duration exposure = scaled(rd.ticks * 250e-6, timescale);
  const bool unplug = cam.faults.detach_in_exposure > 0 && --cam.faults.detach_in_exposure == 0;
  if (uint32_t c = wait(Clock::now() + (unplug ? exposure / 2 : exposure), never)) {
    *err = c;
    return false;
  }
  if (unplug) {
    detach_camera(b, cam);
    *err = kErrDeviceNotConnected;
    return false;
  }
  if (!trigger) cam.command[0x61C] = 0;  // the one-shot bit clears once the exposure is taken

  // Nothing arrives when the camera has no format and mode to send in, drops the frame, or
  // sends it on a channel, speed or packet size the resources do not listen to.
  auto res = b.resources.find(resource);
  bool lost = !rd.sendable || res == b.resources.end() || rd.channel != res->second.channel ||
              rd.speed != res->second.speed || rd.bytes_per_packet != res->second.bytes_per_packet;
  if (cam.faults.drop_skip > 0) {
    --cam.faults.drop_skip;
  } else if (cam.faults.drop_frames > 0) {
    --cam.faults.drop_frames;
    lost = true;
  }
  if (lost) {
    uint32_t c = wait(forever, never);
    *err = c != 0 ? c : kErrSemTimeout;
    return false;
  }

  // Read the sensor out without the lock.
  SensorParams params = cam.cfg.sensor;
  int sensor_w = cam.cfg.sensor_w, sensor_h = cam.cfg.sensor_h;
  std::vector<uint32_t> defects = defects_of(cam);
  uint64_t exposure_number = ++cam.exposure_serial;
  uint16_t overrange = 0;
  if (cam.faults.overrange > 0) {
    --cam.faults.overrange;
    overrange = cam.faults.overrange_value;
  }
  const bool stamp = cam.cfg.frame_stamp;
  const uint64_t frame_number = cam.frames_sent + 1;  // the number it has once delivered
  FrameGeometry g{rd.mode,           rd.geometry.binning, rd.geometry.left, rd.geometry.top,
                  rd.geometry.width, rd.geometry.height,  rd.ticks};
  size_t wire_bytes = static_cast<size_t>(rd.bytes_per_packet) * rd.packets_per_frame;
  // The host's time to compute the frame is no camera time: the wait's clock stops.
  Clock::time_point render_start = Clock::now();
  lk.unlock();
  std::vector<uint16_t> samples =
      render_frame(params, sensor_w, sensor_h, defects, g, exposure_number);
  std::vector<uint8_t> wire(wire_bytes);
  bool rendered =
      samples.size() == static_cast<size_t>(g.width) * static_cast<size_t>(transferred_rows(g));
  if (rendered) {
    if (overrange != 0) mark_overrange(samples.data(), g.width, transferred_rows(g), overrange);
    if (stamp) stamp_frame(samples.data(), g.width, frame_number);
    encode_frame(samples.data(), g.width, transferred_rows(g), g.mode, rd.packed, wire.data(),
                 wire.size());
  }
  lk.lock();
  if (!rendered) {  // a geometry the sensor cannot read out never leaves the camera
    *err = kErrGenFailure;
    return false;
  }
  deadline += Clock::now() - render_start;

  // The packets take one isochronous cycle (125 us) each, counted from the end of the
  // exposure: the host's rendering overlaps them, as a camera's readout overlaps its sending.
  if (uint32_t c = wait(render_start + scaled(rd.packets_per_frame * 125e-6, timescale), never)) {
    *err = c;
    return false;
  }
  uint8_t* dst = cam.frame_buffer[selected].get();
  if (dst == nullptr || frame_bytes > cam.frame_buffer_size) {
    *err = kErrOperationAborted;
    return false;
  }
  std::memcpy(dst, wire.data(), std::min<size_t>(frame_bytes, wire.size()));
  ++cam.frames_sent;
  if (cam.faults.detach_after > 0 && --cam.faults.detach_after == 0) detach_camera(b, cam);
  *err = 0;
  return true;
}

}  // namespace vcam
