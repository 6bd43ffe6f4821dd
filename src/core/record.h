// The camera record: everything the library knows about one camera. One plain struct
// per camera, created zero-filled by the camera table (core/state.h) and filled by
// start-up. Groups lie in this order; the comment of each names who owns it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "core/color_table_types.h"
#include "core/errors.h"
#include "core/plan.h"
#include "core/types.h"
#include "platform/platform.h"
#include "ucap/ucap.h"

namespace ucap {

// One scalable-image mode of the camera, read at open (device/identify).
struct ModeEntry {
  uint32_t block_address;
  uint16_t max_width, max_height;
  uint16_t unit_width, unit_height;
  uint32_t total_bytes;
  uint16_t bytes_per_packet;
  uint32_t packets_per_frame;
  uint16_t unit_pos_h, unit_pos_v;
  uint16_t output_width, output_height;
  uint32_t packing_supported;  // 0 or 1
};

inline constexpr size_t kBlackStoreWords =
    static_cast<size_t>(kMaxSensorHeight + 2) * kMaxSensorWidth;
inline constexpr size_t kWhiteTableWords = static_cast<size_t>(kMaxSensorHeight) * kMaxSensorWidth;
inline constexpr size_t kBinnedRefWords = 2501312;

struct CameraRecord {
  // ---- place in the camera table, for messages (startup/init) ----
  int32_t index;

  // ---- connection (device/identify) ----
  platform::DeviceHandle device;
  char device_path[256];
  uint16_t bus_number;
  uint16_t node_number;
  uint32_t command_base;
  uint32_t vendor_base;

  // ---- transfer state (device/transport) ----
  uint64_t bandwidth_handle;
  uint32_t channel;
  int32_t channel_held;  // 1 from the channel's allocation until the driver has freed it
  uint64_t resource_handle;
  uint32_t bytes_per_packet;
  uint32_t packets_per_frame;
  Rect transferred;

  // ---- mode table (device/identify) ----
  ModeEntry modes[8];

  // ---- blemish list and EEPROM image (device/identify) ----
  int32_t blemish_count;
  uint32_t blemishes[kMaxBlemishes];
  int32_t blemish_list_valid;
  uint8_t eeprom[kEepromBytes];

  // ---- camera lock (startup/init) ----
  platform::CriticalSection lock;

  // ---- sensor size (startup/init) ----
  int32_t sensor_width;
  int32_t sensor_height;

  // ---- driver frame buffers (startup/init, device/transport) ----
  uint8_t* frame_buffer[2];

  // ---- color tables (calibration/color_tables) ----
  ColorTables tables;

  // ---- reference flags (calibration/stores) ----
  int32_t white_ref_present;

  // ---- trigger and shutter switches (settings) ----
  // The trigger switches may change while an acquisition reads them.
  std::atomic<int32_t> fast_wait;
  std::atomic<int32_t> hardware_trigger;
  std::atomic<int32_t> trigger_polarity;
  int32_t shutter_enabled;
  int32_t shutter_level;
  int32_t packing;

  // ---- reference stores (calibration/stores, acquisition/binned references) ----
  uint16_t black_store[kBlackStoreWords];
  uint16_t white_table[kWhiteTableWords];
  uint16_t binned_black[kBinnedRefWords];
  uint16_t binned_white[kBinnedRefWords];

  // ---- color saturation (calibration/color_tables) ----
  double saturation[3];

  // ---- information words (startup/init, settings) ----
  uint32_t eeprom_word36;
  uint32_t unique_id_low;
  int32_t shutter_open_delay;
  int32_t shutter_close_delay;
  uint32_t vendor_word3;

  // ---- capture settings (settings) ----
  int32_t resolution;
  int32_t bits_per_pixel;
  int32_t binning;
  int32_t exposure;  // microseconds

  // ---- transfer-active flag (device/transport) ----
  std::atomic<int32_t> transfer_active;

  // ---- image and frame rectangles (settings) ----
  Rect image_rect;
  Rect frame_rect;

  // ---- switches and busy flags ----
  int32_t black_ref_switch;
  int32_t white_ref_switch;
  int32_t black_ref_present;
  std::atomic<int32_t> color_processing;
  std::atomic<int32_t> buffer_selector;
  std::atomic<int32_t> busy;  // acquisition busy: a frame transfer is pending
  std::atomic<int32_t> fast_running;
  std::atomic<int32_t> abort;
  std::atomic<int32_t> frame_result;  // code of the last frame transfer (0: the frame arrived)
  std::atomic<int32_t> holder;        // who holds the settings (Hold below): 0 nobody

  // ---- white balance, color matrix ----
  double white_balance[3];
  double color_matrix[9];

  // ---- settings lock: held alone by every settings change while it writes (under its
  // hold), by the store writes and by the reference calculations while they install a
  // result; shared by the queries, the store reads and the processing of a frame while
  // they read, so a reader sees a change whole or not at all ----
  mutable std::shared_mutex settings_lock;

  // ---- the plan of the running stream (flow: written by its start before the frame
  // worker starts, read by its readiness checks) ----
  CapturePlan stream_plan;
};

// Whether the camera's capture settings are in use: a frame transfer is pending, or a
// fast acquisition runs (between its frames the busy flag is 0, but the transfer keeps
// the geometry it was set up with).
inline bool acquisition_running(const CameraRecord& cam) {
  return cam.busy.load() != 0 || cam.fast_running.load() != 0;
}

// Holders of a camera's settings and tables. An acquisition (single shot, stream from its
// start to its end, reference calculation) holds them while it reads them; a settings
// change holds them while it writes them. One holder at a time, so a change made on another
// thread never lands in the middle of an acquisition: it is refused (10) instead.
inline constexpr int32_t kHeldByAcquisition = 1;
inline constexpr int32_t kHeldByChange = 2;

// A hold for the lifetime of the object, or after keep() until release_hold(); false
// (nothing held) when another holder has the settings.
class Hold {
 public:
  Hold(CameraRecord& cam, int32_t holder) noexcept : cam_(cam) {
    int32_t nobody = 0;
    taken_ = cam.holder.compare_exchange_strong(nobody, holder);
  }
  ~Hold() {
    if (taken_ && !kept_) cam_.holder.store(0);
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  explicit operator bool() const noexcept { return taken_; }
  void keep() noexcept { kept_ = true; }

 private:
  CameraRecord& cam_;
  bool taken_ = false;
  bool kept_ = false;
};

inline void release_hold(CameraRecord& cam) { cam.holder.store(0); }

// A settings change: `change()` runs under a change hold and the settings lock and gives
// the code; 10, nothing changed, while another holder has the settings or an acquisition
// runs.
template <typename F>
int32_t change_settings(CameraRecord& cam, F&& change) {
  const Hold hold(cam, kHeldByChange);
  if (!hold || acquisition_running(cam)) return err::kBusy;
  const std::lock_guard<std::shared_mutex> lock(cam.settings_lock);
  return change();
}

}  // namespace ucap
