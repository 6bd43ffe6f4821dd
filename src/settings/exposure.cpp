#include "settings/exposure.h"

#include <cstdlib>

#include "core/errors.h"
#include "core/record.h"
#include "core/state.h"
#include "device/requests.h"

namespace ucap {

namespace {

constexpr uint32_t kLevelLowBit = 1u << 29;  // shutter level 0
constexpr uint32_t kEnabledBit = 1u << 28;
constexpr uint32_t kOpenPositiveBit = 1u << 25;
constexpr uint32_t kCloseNegativeBit = 1u << 24;
constexpr uint32_t kTicksMask = 0xFFF;

bool delay_in_range(int32_t us) { return std::abs(us / kExposureStep) <= kShutterDelayTicksMax; }

}  // namespace

uint32_t shutter_control_word(int32_t enabled, int32_t level, int32_t open_us, int32_t close_us) {
  const int32_t a = open_us / kExposureStep;
  const int32_t b = close_us / kExposureStep;
  uint32_t word = 0;
  if (level == 0) word |= kLevelLowBit;
  if (enabled != 0) word |= kEnabledBit;
  if (a > 0) word |= kOpenPositiveBit;
  if (b < 0) word |= kCloseNegativeBit;
  word |= (static_cast<uint32_t>(std::abs(a)) & kTicksMask) << 12;
  word |= static_cast<uint32_t>(std::abs(b)) & kTicksMask;
  return word;
}

int32_t write_shutter_control(CameraRecord& cam) {
  device::VendorAccess access(cam);
  if (!access.is_open()) return err::kWrite;
  const uint32_t word = shutter_control_word(cam.shutter_enabled, cam.shutter_level,
                                             cam.shutter_open_delay, cam.shutter_close_delay);
  if (device::quadlet_write(cam, device::vendor(cam, device::kVendorShutterControl), word) != 0) {
    access.leave_open();  // as the steps have it: the camera's access time-out ends it
    return err::kWrite;
  }
  return err::kOk;
}

int32_t set_exposure(CameraRecord& cam, int32_t microseconds) {
  return change_settings(cam, [&]() -> int32_t {
    if (microseconds < kExposureMin || microseconds > kExposureMax) return err::kArgument;
    cam.exposure = microseconds;
    return err::kOk;
  });
}

int32_t shutter_control(CameraRecord& cam, int32_t enable, int32_t level) {
  return change_settings(cam, [&]() -> int32_t {
    cam.shutter_enabled = enable;
    cam.shutter_level = level;
    return write_shutter_control(cam);
  });
}

int32_t set_shutter_delay(CameraRecord& cam, int32_t open_us, int32_t close_us) {
  return change_settings(cam, [&]() -> int32_t {
    if (!delay_in_range(open_us) || !delay_in_range(close_us)) return err::kArgument;
    cam.shutter_open_delay = open_us;
    cam.shutter_close_delay = close_us;
    return write_shutter_control(cam);
  });
}

int32_t enable_packing(CameraRecord& cam, int32_t on) {
  return change_settings(cam, [&]() -> int32_t {
    if (on == 0) {
      cam.packing = 0;
      return err::kOk;
    }
    if (cam.modes[0].packing_supported == 0) return err::kArgument;
    cam.packing = 1;
    return err::kOk;
  });
}

int32_t set_hardware_trigger(CameraRecord& cam, int32_t on) {
  cam.hardware_trigger.store(on);
  return err::kOk;
}

int32_t set_trigger_polarity(CameraRecord& cam, int32_t polarity) {
  cam.trigger_polarity.store(polarity);
  return err::kOk;
}

void set_blemish_switch(int32_t on) { state().blemish_switch.store(on); }

}  // namespace ucap
