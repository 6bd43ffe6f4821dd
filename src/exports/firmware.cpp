// Exports of the firmware download.
#include "device/firmware.h"
#include "exports/guard.h"
#include "ucap/ucap.h"

using ucap::CameraRecord;
using ucap::exports::with_camera;

extern "C" {

UCAP_API int32_t UcapmWriteFirmware(int32_t index, const char* text, int32_t length) {
  return with_camera(
      index, [&](CameraRecord& cam) { return ucap::device::write_firmware(cam, text, length); });
}
UCAP_API int32_t UcapWriteFirmware(const char* text, int32_t length) {
  return UcapmWriteFirmware(0, text, length);
}

}  // extern "C"
