// Exposure, external shutter, hardware trigger and packing settings of a camera.
// Exposure, trigger and packing are stored for the next capture set-up; the shutter
// settings reach the camera at once through its vendor shutter control register.
#pragma once

#include <cstdint>

namespace ucap {

struct CameraRecord;

inline constexpr int32_t kExposureMin = 250;  // microseconds
inline constexpr int32_t kExposureMax = 60000000;
inline constexpr int32_t kExposureStep = 250;  // one camera tick
// The camera's ticks of an exposure in microseconds (quotient toward zero).
inline constexpr int32_t exposure_ticks(int32_t exposure_us) { return exposure_us / kExposureStep; }
inline constexpr int32_t kShutterDelayTicksMax = 4095;

// The shutter control word from the shutter switches and the two delays (microseconds).
uint32_t shutter_control_word(int32_t enabled, int32_t level, int32_t open_us, int32_t close_us);
// Writes the word built from the record's shutter fields: 0, or 27 when the vendor
// access or the register write fails.
int32_t write_shutter_control(CameraRecord& cam);

// 10 busy; 8 outside 250..60000000; else stores the value unchanged.
int32_t set_exposure(CameraRecord& cam, int32_t microseconds);
// 10 busy; else stores both and writes the shutter control word (0 or 27).
int32_t shutter_control(CameraRecord& cam, int32_t enable, int32_t level);
// 10 busy; 8 when either delay is beyond 4095 ticks (nothing stored); else stores both
// and writes the shutter control word (0 or 27; the new values stay on failure).
int32_t set_shutter_delay(CameraRecord& cam, int32_t open_us, int32_t close_us);
// 10 busy; 8 when packing is asked for but mode 0 cannot pack; else switches it.
int32_t enable_packing(CameraRecord& cam, int32_t on);

// The trigger switches take effect at the next capture set-up and are stored unchanged
// even while an acquisition runs. 0.
int32_t set_hardware_trigger(CameraRecord& cam, int32_t on);
int32_t set_trigger_polarity(CameraRecord& cam, int32_t polarity);

// The process-wide blemish-correction switch, stored unchanged.
void set_blemish_switch(int32_t on);

}  // namespace ucap
