// Exports of the color correction settings (white balance, image white balance,
// saturation, color-processing switch) and of the reference stores.
#include "calibration/color_tables.h"
#include "calibration/stores.h"
#include "core/errors.h"
#include "core/record.h"
#include "core/state.h"
#include "exports/guard.h"
#include "ucap/ucap.h"

using ucap::CameraRecord;
using ucap::exports::deliver;
using ucap::exports::query;
using ucap::exports::value_of_camera0;
using ucap::exports::with_camera;
namespace err = ucap::err;

extern "C" {

// ---- color processing switch ----------------------------------------------------------

int32_t UcapmEnableColorProcessing(int32_t index, int32_t on) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::set_color_processing(cam, on); });
}
void UcapEnableColorProcessing(int32_t on) { UcapmEnableColorProcessing(0, on); }

int32_t UcapmIsColorProcessingEnabled(int32_t index, int32_t* on) {
  return deliver(index, on, [](CameraRecord& cam) { return cam.color_processing.load(); });
}
int32_t UcapIsColorProcessingEnabled(void) {
  return value_of_camera0([](CameraRecord& cam) { return cam.color_processing.load(); });
}

// ---- white balance and saturation ------------------------------------------------------

int32_t UcapmSetWhiteBalance(int32_t index, double red, double green, double blue) {
  return with_camera(
      index, [&](CameraRecord& cam) { return ucap::set_white_balance(cam, red, green, blue); });
}
int32_t UcapSetWhiteBalance(double red, double green, double blue) {
  return UcapmSetWhiteBalance(0, red, green, blue);
}

int32_t UcapmSetImageWhiteBalance(int32_t index, double red, double green, double blue) {
  return with_camera(index, [&](CameraRecord& cam) {
    return ucap::set_image_white_balance(cam, red, green, blue);
  });
}
int32_t UcapSetImageWhiteBalance(double red, double green, double blue) {
  return UcapmSetImageWhiteBalance(0, red, green, blue);
}

int32_t UcapmSetColorSaturation(int32_t index, double red, double green, double blue) {
  return with_camera(
      index, [&](CameraRecord& cam) { return ucap::set_color_saturation(cam, red, green, blue); });
}
int32_t UcapSetColorSaturation(double red, double green, double blue) {
  return UcapmSetColorSaturation(0, red, green, blue);
}

int32_t UcapmGetCurrentWhiteBalance(int32_t index, double* red, double* green, double* blue) {
  return query(index, [&](CameraRecord& cam) {
    if (red == nullptr || green == nullptr || blue == nullptr) return err::kArgument;
    *red = cam.white_balance[0];
    *green = cam.white_balance[1];
    *blue = cam.white_balance[2];
    return err::kOk;
  });
}
int32_t UcapGetCurrentWhiteBalance(double* red, double* green, double* blue) {
  return UcapmGetCurrentWhiteBalance(0, red, green, blue);
}

int32_t Ucapm_setwhite(int32_t index, const double* rgb) {
  return with_camera(index, [&](CameraRecord& cam) {
    if (rgb == nullptr) return err::kArgument;
    return ucap::rebuild_white_tables(cam, rgb);
  });
}
int32_t Ucap_setwhite(const double* rgb) { return Ucapm_setwhite(0, rgb); }

// ---- black reference ---------------------------------------------------------------------

int32_t UcapmSaveBlackRef(int32_t index, void* buffer, int32_t size) {
  return with_camera(index,
                     [&](CameraRecord& cam) { return ucap::save_black_ref(cam, buffer, size); });
}
int32_t UcapSaveBlackRef(void* buffer, int32_t size) { return UcapmSaveBlackRef(0, buffer, size); }

int32_t UcapmRestoreBlackRef(int32_t index, const void* buffer, int32_t size) {
  return with_camera(index,
                     [&](CameraRecord& cam) { return ucap::restore_black_ref(cam, buffer, size); });
}
int32_t UcapRestoreBlackRef(const void* buffer, int32_t size) {
  return UcapmRestoreBlackRef(0, buffer, size);
}

int32_t UcapmSetBlackRef(int32_t index, int32_t on) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::set_black_ref(cam, on); });
}
int32_t UcapSetBlackRef(int32_t on) { return UcapmSetBlackRef(0, on); }

int32_t UcapmGetCurrentBlackRef(int32_t index, int32_t* on) {
  return deliver(index, on, [](CameraRecord& cam) { return cam.black_ref_switch; });
}
int32_t UcapGetCurrentBlackRef(void) {
  return value_of_camera0([](CameraRecord& cam) { return cam.black_ref_switch; });
}

int32_t UcapmHasBlackRef(int32_t index, int32_t* present) {
  return deliver(index, present, [](CameraRecord& cam) { return cam.black_ref_present; });
}
int32_t UcapHasBlackRef(void) {
  return value_of_camera0([](CameraRecord& cam) { return cam.black_ref_present; });
}

// ---- white reference ---------------------------------------------------------------------

int32_t UcapmSetWhiteRef(int32_t index, int32_t on) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::set_white_ref(cam, on); });
}
int32_t UcapSetWhiteRef(int32_t on) { return UcapmSetWhiteRef(0, on); }

int32_t UcapmGetCurrentWhiteRef(int32_t index, int32_t* on) {
  return deliver(index, on, [](CameraRecord& cam) { return cam.white_ref_switch; });
}
int32_t UcapGetCurrentWhiteRef(void) {
  return value_of_camera0([](CameraRecord& cam) { return cam.white_ref_switch; });
}

int32_t UcapmHasWhiteRef(int32_t index, int32_t* present) {
  return deliver(index, present, [](CameraRecord& cam) { return cam.white_ref_present; });
}
int32_t UcapHasWhiteRef(void) {
  return value_of_camera0([](CameraRecord& cam) { return cam.white_ref_present; });
}

int32_t UcapmSetWhiteTable(int32_t index, const uint16_t* table) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::set_white_table(cam, table); });
}
int32_t UcapSetWhiteTable(const uint16_t* table) { return UcapmSetWhiteTable(0, table); }

int32_t UcapmGetWhiteTable(int32_t index, uint16_t* table) {
  return with_camera(index, [&](CameraRecord& cam) { return ucap::get_white_table(cam, table); });
}
int32_t UcapGetWhiteTable(uint16_t* table) { return UcapmGetWhiteTable(0, table); }

}  // extern "C"
