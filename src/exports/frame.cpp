// Exports of the library frame and of device access: start-up, information, messages,
// discovery, EEPROM, bus-reset callback, fixed answers and the do-nothing exports.
#include "core/reporter.h"
#include "device/discovery.h"
#include "device/identify.h"
#include "device/monitor.h"
#include "exports/guard.h"
#include "settings/geometry.h"
#include "startup/init.h"
#include "ucap/ucap.h"

using namespace ucap;
using ucap::exports::guarded;
using ucap::exports::value_of;
using ucap::exports::value_of_camera0;
using ucap::exports::with_camera;

namespace {

int32_t matching_cameras() {
  int32_t count = 0;
  device::find_camera_path(-1, nullptr, &count);
  return count;
}

}  // namespace

extern "C" {

UCAP_API int32_t UcapInit(void) {
  return guarded([] { return initialise(); });
}
UCAP_API int32_t UcapClose(void) {
  return guarded([] { return close_library(); });
}

UCAP_API int32_t UcapmInfo(int32_t index, UcapInfoRecord* info) {
  return with_camera(index, [&](CameraRecord& cam) { return fill_information(cam, info); });
}
UCAP_API int32_t UcapInfo(UcapInfoRecord* info) { return UcapmInfo(0, info); }

UCAP_API int32_t UcapGetNumberofCameras(void) {
  return guarded([] { return matching_cameras(); });
}
UCAP_API int32_t UCapIsAvailable(void) {
  return guarded([] { return matching_cameras() > 0 ? err::kOk : err::kNotAttached; });
}

UCAP_API int32_t UcapSetErrorMessages(int32_t on) {
  set_message_switch(on);
  return err::kOk;
}
UCAP_API int32_t UcapGetCurrentErrorMessages(void) { return message_switch(); }

UCAP_API int32_t UcapSetBusresetCallback(UcapBusResetCallback callback, uint64_t user) {
  device::set_bus_reset_callback(callback, user);
  return err::kOk;
}

// No EEPROM image (0) before a successful UcapInit.
UCAP_API uint32_t ReadEprom(uint16_t offset, int16_t count) {
  return value_of(0,
                  [&](CameraRecord& cam) { return device::read_eprom_value(cam, offset, count); });
}

// ---- fixed answers ----
UCAP_API int32_t UcapGetNumberOfResolutions(void) { return kResolutionCount; }
UCAP_API int32_t UcapmGetNumberOfResolutions(int32_t) { return kResolutionCount; }
UCAP_API int32_t UcapHasImageSize(void) { return 1; }
UCAP_API int32_t UcapmHasImageSize(int32_t, int32_t* result) {
  if (result == nullptr) return err::kArgument;
  *result = 1;
  return err::kOk;
}
UCAP_API int32_t UcapHasFrame(void) {
  return value_of_camera0([](CameraRecord&) { return 1; });
}
UCAP_API int32_t UcapHasFastAcquisition(void) {
  return value_of_camera0([](CameraRecord&) { return 1; });
}
UCAP_API int32_t UcapmHasFrame(int32_t index, int32_t* result) {
  return exports::deliver(index, result, [](CameraRecord&) { return 1; });
}
UCAP_API int32_t UcapmHasFastAcquisition(int32_t index, int32_t* result) {
  return UcapmHasFrame(index, result);
}

// ---- do-nothing exports: kept so that existing applications link; arguments ignored ----
UCAP_API int32_t UcapGetCurrentFadingCorrection(void) { return 0; }
UCAP_API int32_t UcapGetCurrentMultiShotFilter(void) { return 0; }
UCAP_API int32_t UcapHasCalibration(void) { return 0; }
UCAP_API int32_t UcapIsSharpenerEnabled(void) { return 0; }
UCAP_API int32_t UcapButtonWasPressed(void) { return err::kNotSupported; }
UCAP_API int32_t UcapCalibrate(UcapProgressCallback) { return err::kNotSupported; }
UCAP_API int32_t UcapCalibrateEx(UcapProgressCallbackEx, intptr_t) { return err::kNotSupported; }
UCAP_API int32_t UcapGetBloomingVoltage(int32_t*) { return err::kNotSupported; }
UCAP_API int32_t UcapGetPeltierVoltage(int32_t*) { return err::kNotSupported; }
UCAP_API int32_t UcapLoadCalibration(const void*, int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapResetCalibration(void) { return err::kNotSupported; }
UCAP_API int32_t UcapSaveCalibration(void*, int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapSetBloomingVoltage(int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapSetFadingCorrection(int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapSetFadingCorrectionGainLimit(int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapSetMultiShotFilter(int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapSetPeltierVoltage(int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapmEnableSharpener(int32_t, int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapmGetBloomingVoltage(int32_t, int32_t*) { return err::kNotSupported; }
UCAP_API int32_t UcapmGetCurrentMultiShotFilter(int32_t, int32_t*) { return err::kNotSupported; }
UCAP_API int32_t UcapmIsSharpenerEnabled(int32_t, int32_t*) { return err::kNotSupported; }
UCAP_API int32_t UcapmSetBloomingVoltage(int32_t, int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapmSetMultiShotFilter(int32_t, int32_t) { return err::kNotSupported; }
UCAP_API int32_t UcapEnableSharpener(int32_t) { return 0; }
UCAP_API int32_t UcapStripeAdjust(void) { return 0; }
UCAP_API int32_t WriteEprom(void) { return 0; }
UCAP_API int32_t outcomm(void) { return 0; }

}  // extern "C"
