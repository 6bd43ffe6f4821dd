// Exports of the capture settings: resolution, pixel depth, binning, image and frame
// rectangles, data size, exposure, shutter, trigger, packing and the blemish switch.
#include "core/errors.h"
#include "core/record.h"
#include "core/state.h"
#include "exports/guard.h"
#include "settings/exposure.h"
#include "settings/geometry.h"
#include "ucap/ucap.h"

using ucap::CameraRecord;
using ucap::Rect;
using ucap::exports::deliver;
using ucap::exports::query;
using ucap::exports::value_of;
using ucap::exports::value_of_camera0;
using ucap::exports::with_camera;
namespace err = ucap::err;

namespace {

Rect to_rect(const UcapRect& r) { return Rect{r.left, r.top, r.right, r.bottom}; }
UcapRect to_ucap(const Rect& r) { return UcapRect{r.left, r.top, r.right, r.bottom}; }

}  // namespace

extern "C" {

// ---- resolution, pixel depth, binning ------------------------------------------------

int32_t UcapmGetResolutionValues(int32_t index, int32_t resolution, int32_t* width, int32_t* height,
                                 int32_t* third) {
  return with_camera(index, [&](CameraRecord& cam) {
    if (width == nullptr || height == nullptr || third == nullptr) return err::kArgument;
    return ucap::resolution_values(cam, resolution, *width, *height, *third);
  });
}
int32_t UcapGetResolutionValues(int32_t resolution, int32_t* width, int32_t* height,
                                int32_t* third) {
  return UcapmGetResolutionValues(0, resolution, width, height, third);
}

int32_t UcapmSetResolution(int32_t index, int32_t resolution) {
  return with_camera(index,
                     [&](CameraRecord& cam) { return ucap::set_resolution(cam, resolution); });
}
int32_t UcapSetResolution(int32_t resolution) { return UcapmSetResolution(0, resolution); }

int32_t UcapmGetCurrentResolution(int32_t index) {
  return value_of(index, [](const CameraRecord& cam) { return cam.resolution; });
}
int32_t UcapGetCurrentResolution(void) { return UcapmGetCurrentResolution(0); }

int32_t UcapmHasBitsPerPixel(int32_t index, int32_t bits, int32_t* result) {
  return deliver(index, result, [&](CameraRecord& cam) {
    return ucap::bits_per_pixel_allowed(cam.resolution, bits) ? 1 : 0;
  });
}
int32_t UcapHasBitsPerPixel(int32_t bits) {
  return value_of_camera0([&](CameraRecord& cam) -> int32_t {
    return ucap::bits_per_pixel_allowed(cam.resolution, bits) ? 1 : 0;
  });
}

int32_t UcapmSetBitsPerPixel(int32_t index, int32_t bits) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::set_bits_per_pixel(cam, bits); });
}
int32_t UcapSetBitsPerPixel(int32_t bits) { return UcapmSetBitsPerPixel(0, bits); }

int32_t UcapmGetCurrentBitsPerPixel(int32_t index) {
  return value_of(index, [](const CameraRecord& cam) { return cam.bits_per_pixel; });
}
int32_t UcapGetCurrentBitsPerPixel(void) { return UcapmGetCurrentBitsPerPixel(0); }

int32_t UcapmHasBinning(int32_t index, int32_t factor, int32_t* result) {
  return deliver(index, result, [&](CameraRecord& cam) {
    return ucap::binning_allowed(cam.resolution, cam.bits_per_pixel, factor) ? 1 : 0;
  });
}
int32_t UcapHasBinning(int32_t factor) {
  return value_of_camera0([&](CameraRecord& cam) -> int32_t {
    return ucap::binning_allowed(cam.resolution, cam.bits_per_pixel, factor) ? 1 : 0;
  });
}

int32_t UcapmSetBinning(int32_t index, int32_t factor) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::set_binning(cam, factor); });
}
int32_t UcapSetBinning(int32_t factor) { return UcapmSetBinning(0, factor); }

int32_t UcapmGetCurrentBinning(int32_t index, int32_t* factor) {
  return deliver(index, factor, [](CameraRecord& cam) { return cam.binning; });
}
int32_t UcapGetCurrentBinning(void) {
  return value_of_camera0([](CameraRecord& cam) { return cam.binning; });
}

// ---- image size, frame, data size ------------------------------------------------------

int32_t UcapmSetImageSize(int32_t index, const UcapRect* rect) {
  return with_camera(index, [&](CameraRecord& cam) {
    if (rect == nullptr) return ucap::set_image_size(cam, nullptr);
    const Rect r = to_rect(*rect);
    return ucap::set_image_size(cam, &r);
  });
}
int32_t UcapSetImageSize(const UcapRect* rect) { return UcapmSetImageSize(0, rect); }

int32_t UcapmGetCurrentImageSize(int32_t index, UcapRect* rect) {
  return query(index, [&](CameraRecord& cam) {
    if (rect == nullptr) return err::kArgument;
    *rect = to_ucap(ucap::current_image_size(cam));
    return err::kOk;
  });
}
int32_t UcapGetCurrentImageSize(UcapRect* rect) { return UcapmGetCurrentImageSize(0, rect); }

int32_t UcapmSetFrameSize(int32_t index, const UcapRect* rect) {
  return with_camera(index, [&](CameraRecord& cam) {
    if (rect == nullptr) return ucap::set_frame_size(cam, nullptr);
    const Rect r = to_rect(*rect);
    return ucap::set_frame_size(cam, &r);
  });
}
int32_t UcapSetFrameSize(const UcapRect* rect) { return UcapmSetFrameSize(0, rect); }

int32_t UcapmGetCurrentFrameSize(int32_t index, UcapRect* rect) {
  return query(index, [&](CameraRecord& cam) {
    if (rect == nullptr) return err::kArgument;
    *rect = to_ucap(cam.frame_rect);
    return err::kOk;
  });
}
int32_t UcapGetCurrentFrameSize(UcapRect* rect) { return UcapmGetCurrentFrameSize(0, rect); }

int32_t UcapmGetCurrentDataSize(int32_t index, int32_t* width, int32_t* height) {
  return query(index, [&](CameraRecord& cam) {
    if (width == nullptr || height == nullptr) return err::kArgument;
    return ucap::current_data_size(cam, *width, *height);
  });
}
int32_t UcapGetCurrentDataSize(int32_t* width, int32_t* height) {
  return UcapmGetCurrentDataSize(0, width, height);
}

// ---- exposure, shutter, trigger, packing, blemishes ------------------------------------

int32_t UcapmGetExposureRange(int32_t, int32_t* min_us, int32_t* max_us, int32_t* step_us) {
  if (min_us == nullptr || max_us == nullptr || step_us == nullptr) return err::kArgument;
  *min_us = ucap::kExposureMin;
  *max_us = ucap::kExposureMax;
  *step_us = ucap::kExposureStep;
  return err::kOk;
}
int32_t UcapGetExposureRange(int32_t* min_us, int32_t* max_us, int32_t* step_us) {
  return UcapmGetExposureRange(0, min_us, max_us, step_us);
}

int32_t UcapmSetExposure(int32_t index, int32_t microseconds) {
  return with_camera(index,
                     [&](CameraRecord& cam) { return ucap::set_exposure(cam, microseconds); });
}
int32_t UcapSetExposure(int32_t microseconds) { return UcapmSetExposure(0, microseconds); }

int32_t UcapmGetCurrentExposure(int32_t index, int32_t* microseconds) {
  return deliver(index, microseconds, [](CameraRecord& cam) { return cam.exposure; });
}
int32_t UcapGetCurrentExposure(void) {
  return value_of_camera0([](CameraRecord& cam) { return cam.exposure; });
}

int32_t UcapmShutterControl(int32_t index, int32_t enable, int32_t level) {
  return with_camera(index,
                     [&](CameraRecord& cam) { return ucap::shutter_control(cam, enable, level); });
}
int32_t UcapShutterControl(int32_t enable, int32_t level) {
  return UcapmShutterControl(0, enable, level);
}

int32_t UcapmSetShutterDelay(int32_t index, int32_t open_us, int32_t close_us) {
  return with_camera(
      index, [&](CameraRecord& cam) { return ucap::set_shutter_delay(cam, open_us, close_us); });
}
int32_t UcapSetShutterDelay(int32_t open_us, int32_t close_us) {
  return UcapmSetShutterDelay(0, open_us, close_us);
}

int32_t UcapmGetCurrentShutterDelay(int32_t index, int32_t* open_us, int32_t* close_us) {
  return query(index, [&](CameraRecord& cam) {
    if (open_us == nullptr || close_us == nullptr) return err::kArgument;
    *open_us = cam.shutter_open_delay;
    *close_us = cam.shutter_close_delay;
    return err::kOk;
  });
}
int32_t UcapGetCurrentShutterDelay(int32_t* open_us, int32_t* close_us) {
  return UcapmGetCurrentShutterDelay(0, open_us, close_us);
}

// The trigger switches change nothing on the camera until the next capture set-up and
// are taken even while an acquisition runs.
int32_t UcapmEnableHardwareTrigger(int32_t index, int32_t on) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::set_hardware_trigger(cam, on); });
}
int32_t UcapEnableHardwareTrigger(int32_t on) { return UcapmEnableHardwareTrigger(0, on); }

int32_t UcapmSetHardwareTriggerPolarity(int32_t index, int32_t polarity) {
  return with_camera(index,
                     [&](CameraRecord& cam) { return ucap::set_trigger_polarity(cam, polarity); });
}
int32_t UcapSetHardwareTriggerPolarity(int32_t polarity) {
  return UcapmSetHardwareTriggerPolarity(0, polarity);
}

int32_t UcapmIsHardwareTriggerEnabled(int32_t index, int32_t* on) {
  return deliver(index, on, [](CameraRecord& cam) { return cam.hardware_trigger.load(); });
}
int32_t UcapIsHardwareTriggerEnabled(int32_t* on) { return UcapmIsHardwareTriggerEnabled(0, on); }

int32_t UcapmEnablePacking(int32_t index, int32_t on) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::enable_packing(cam, on); });
}

// The blemish switch is process-wide; the answer is whether this camera's blemish list
// could be read (0 for an index that names no camera).
int32_t Ucapm_corrblems(int32_t index, int32_t on) {
  ucap::set_blemish_switch(on);
  return value_of(index, [](const CameraRecord& cam) { return cam.blemish_list_valid; });
}
int32_t Ucap_corrblems(int32_t on) { return Ucapm_corrblems(0, on); }

}  // extern "C"
