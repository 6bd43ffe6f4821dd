// The camera record: everything the library knows about one camera. One plain struct
// per camera, created zero-filled by the camera table (core/state.h) and filled by
// start-up. Groups lie in this order; the comment of each names who owns it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <shared_mutex>

#include "core/acquisition_state.h"
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

  // ---- transfer-active flag (device/transport: the transport's own, written under the camera
  // lock; a transfer can stay set up after its acquisition has ended, until the next set-up
  // or the close cleans it up) ----
  std::atomic<int32_t> transfer_active;

  // ---- image and frame rectangles (settings) ----
  Rect image_rect;
  Rect frame_rect;

  // ---- switches ----
  int32_t black_ref_switch;
  int32_t white_ref_switch;
  int32_t black_ref_present;
  std::atomic<int32_t> color_processing;

  // ---- acquisition state (flow, settings changes, close): who has the settings and what
  // the stream does, changed only by its transitions (core/acquisition_state.h) ----
  AcquisitionState acquisition;

  // ---- the frame worker's hand-over (flow/frame_worker): whether a frame request is out
  // does not follow from the acquisition state (a stream in any of its states may have one
  // out or not; an abort waits for it; an unfinished abort can leave one out), and the
  // worker, which clears it, never changes the state: a flag of its own. The acquiring
  // thread sets busy and the buffer selector before it starts the worker; the worker alone
  // stores the request's result and then clears busy, so the result is read after busy
  // fell ----
  std::atomic<int32_t> buffer_selector;
  std::atomic<int32_t> busy;          // 1: a frame request is pending
  std::atomic<int32_t> frame_result;  // code of the last frame request (0: the frame arrived)

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

// A claim of the camera's settings (idle -> `holder`, core/acquisition_state.h) for the
// lifetime of the object, or after keep() until whoever ends the acquisition releases it;
// false (nothing claimed) when somebody else has them.
class Hold {
 public:
  Hold(CameraRecord& cam, Acquisition holder) noexcept
      : cam_(cam), holder_(holder), taken_(cam.acquisition.claim(holder)) {}
  ~Hold() {
    if (taken_ && !kept_) cam_.acquisition.release(holder_);
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  explicit operator bool() const noexcept { return taken_; }
  void keep() noexcept { kept_ = true; }

 private:
  CameraRecord& cam_;
  Acquisition holder_;
  bool taken_;
  bool kept_ = false;
};

// A settings change: `change()` runs holding the settings (kChange) and the settings lock
// and gives the code; 10, nothing changed, while somebody else has the settings or a frame
// request is out.
template <typename F>
int32_t change_settings(CameraRecord& cam, F&& change) {
  const Hold hold(cam, Acquisition::kChange);
  if (!hold || cam.busy.load() != 0) return err::kBusy;
  const std::lock_guard<std::shared_mutex> lock(cam.settings_lock);
  return change();
}

}  // namespace ucap
