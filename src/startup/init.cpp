#include "startup/init.h"

#include <new>

#include "calibration/color_tables.h"
#include "core/bands.h"
#include "core/errors.h"
#include "core/record.h"
#include "core/reporter.h"
#include "core/state.h"
#include "device/discovery.h"
#include "device/identify.h"
#include "device/monitor.h"
#include "device/requests.h"
#include "device/transport.h"
#include "flow/closing.h"
#include "settings/geometry.h"

namespace ucap {

namespace {

constexpr uint32_t kMonitorStack = 10000;

// Releases what start-up has taken so far: driver frame buffers, open devices, locks,
// and the table itself.
void release_table(CameraRecord* table, int32_t count, int32_t locks_initialised) {
  for (int32_t i = 0; i < count; ++i) {
    CameraRecord& cam = table[i];
    if (cam.frame_buffer[0] != nullptr) device::frame_buffer_request(cam, 0, nullptr, nullptr);
    if (platform::device_valid(cam.device)) platform::close_device(cam.device);
    cam.device = nullptr;
    if (i < locks_initialised) cam.lock.destroy();
  }
  delete[] table;
}

// Opens and starts camera i; 0 or the code UcapInit returns.
int32_t start_camera(CameraRecord& cam, int32_t i) {
  cam.index = i;
  int32_t c = device::open_and_identify(cam, i);
  if (c != 0) {
    report(msg::kInitError, i, c);
    return c;
  }
  cam.bits_per_pixel = kBitsColor;
  cam.binning = 1;
  cam.exposure = 100000;
  cam.packing = 1;
  if (device::quadlet_read(cam, device::vendor(cam, device::kVendorWord3), &cam.vendor_word3) != 0)
    return err::kRead;
  c = device::read_eeprom(cam);
  if (c != 0) return c;
  cam.shutter_enabled = 1;
  cam.eeprom_word36 = device::read_eprom_value(cam, 144, 4);
  if (device::quadlet_read(cam, device::kRomUniqueIdLow, &cam.unique_id_low) != 0)
    return err::kRead;

  const ModeEntry& mode2 = cam.modes[2];
  const int32_t w = mode2.max_width;
  const int32_t h = mode2.max_height;
  // The record's arrays hold a sensor of at most 2584 x 1936 pixels (and the reference
  // layout needs one at least as wide as high, with whole mosaic cells): anything else
  // cannot be served.
  if (w < 16 || h < 16 || w > kMaxSensorWidth || h > kMaxSensorHeight || h > w ||
      ((w | h) & 1) != 0)
    return err::kArgument;
  cam.sensor_width = w;
  cam.sensor_height = h;
  cam.frame_rect = cam.image_rect = Rect{0, 0, w, h};

  const uint32_t size = static_cast<uint32_t>(device::frame_buffer_bytes(cam));
  if (device::frame_buffer_request(cam, size, &cam.frame_buffer[0], &cam.frame_buffer[1]) != 0 ||
      cam.frame_buffer[0] == nullptr || cam.frame_buffer[1] == nullptr) {
    cam.frame_buffer[0] = cam.frame_buffer[1] = nullptr;
    return err::kNoMemory;
  }
  return 0;
}

}  // namespace

int32_t initialise() {
  ProcessState& s = state();
  const GateShut shut(s.gate);
  if (!shut) return err::kNoCamera;
  if (s.initialised) return 0;

  int32_t count = 0;
  device::find_camera_path(-1, nullptr, &count);
  if (count <= 0) return err::kNoCamera;

  CameraRecord* table = new (std::nothrow) CameraRecord[static_cast<size_t>(count)]();
  if (table == nullptr) return err::kNoMemory;

  for (int32_t i = 0; i < count; ++i) {
    CameraRecord& cam = table[i];
    int32_t c = start_camera(cam, i);
    if (c != 0) {
      release_table(table, i + 1, i);
      return c;
    }
    cam.lock.init();
    init_color_defaults(cam);
  }

  s.table = table;
  s.camera_count.store(count, std::memory_order_release);

  // A new monitor starts with a clear stop flag and no event of an earlier one.
  s.monitor_stop.store(0);
  s.monitor_event.store(nullptr);
  s.monitor_alive.store(1);
  s.monitor_thread = platform::create_thread(device::bus_reset_monitor, table, kMonitorStack);
  if (s.monitor_thread == nullptr) {
    s.monitor_alive.store(0);
    report(msg::kBusResetThread);
  } else {
    platform::set_priority_highest(s.monitor_thread);
  }
  bands::start();
  s.initialised = true;
  return 0;
}

int32_t close_library() {
  ProcessState& s = state();
  const GateShut shut(s.gate, &flow::cancel_pending_frames);
  if (!shut) return err::kNoCamera;
  flow::release_transfers();
  const int32_t count = s.camera_count.load();
  CameraRecord* table = s.table;

  // Stop the monitor first: it reads the first record's device path.
  if (s.monitor_thread != nullptr) {
    s.monitor_stop.store(1);
    // Wait for the monitor's event only while a monitor that could still create it runs.
    platform::Event* event = nullptr;
    while ((event = s.monitor_event.load()) == nullptr && s.monitor_alive.load() != 0)
      platform::sleep_ms(100);
    if (event != nullptr) platform::set_event(event);
    platform::wait_thread(s.monitor_thread);
    platform::close_thread(s.monitor_thread);
    s.monitor_thread = nullptr;
    if (event != nullptr) platform::close_event(event);
    s.monitor_event.store(nullptr);
  }

  s.camera_count.store(0, std::memory_order_release);
  s.table = nullptr;
  if (table != nullptr) release_table(table, count, count);
  bands::stop();
  s.initialised = false;
  return 0;
}

int32_t fill_information(const CameraRecord& cam, UcapInfoRecord* info) {
  if (info == nullptr) return err::kArgument;
  info->vendor_word3 = cam.vendor_word3;
  info->unique_id_low = cam.unique_id_low;
  info->one = 1;
  info->eeprom_word36 = cam.eeprom_word36;
  return err::kOk;
}

}  // namespace ucap
