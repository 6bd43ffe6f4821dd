#include "calibration/stores.h"

#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "core/errors.h"
#include "core/record.h"

namespace ucap {

namespace {

// The stores are laid out for at most the largest sensor the record is sized for, and
// the row-offset row can hold H values only when H <= W.
bool geometry_fits(const CameraRecord& cam) {
  const int32_t w = cam.sensor_width;
  const int32_t h = cam.sensor_height;
  return w > 0 && h > 0 && w <= kMaxSensorWidth && h <= kMaxSensorHeight && h <= w;
}

int32_t switch_to(CameraRecord& cam, int32_t on, int32_t present, int32_t& field) {
  return change_settings(cam, [&]() -> int32_t {
    if (on != 0 && present == 0) return err::kArgument;
    field = on != 0 ? 1 : 0;
    return err::kOk;
  });
}

}  // namespace

size_t black_store_words(const CameraRecord& cam) {
  if (!geometry_fits(cam)) return 0;
  return static_cast<size_t>(cam.sensor_height + 2) * static_cast<size_t>(cam.sensor_width);
}

size_t white_table_words(const CameraRecord& cam) {
  if (!geometry_fits(cam)) return 0;
  return static_cast<size_t>(cam.sensor_height) * static_cast<size_t>(cam.sensor_width);
}

int32_t save_black_ref(const CameraRecord& cam, void* buffer, int32_t size) {
  const std::shared_lock<std::shared_mutex> lock(cam.settings_lock);
  const size_t words = black_store_words(cam);
  if (buffer == nullptr || words == 0 || size < 0 ||
      static_cast<size_t>(size) != words * sizeof(uint16_t) || cam.black_ref_present == 0) {
    return err::kArgument;
  }
  std::memcpy(buffer, cam.black_store, words * sizeof(uint16_t));
  return err::kOk;
}

int32_t restore_black_ref(CameraRecord& cam, const void* buffer, int32_t size) {
  const size_t words = black_store_words(cam);
  if (buffer == nullptr || words == 0 || size < 0 ||
      static_cast<size_t>(size) != words * sizeof(uint16_t)) {
    return err::kArgument;
  }
  const std::lock_guard<std::shared_mutex> lock(cam.settings_lock);
  std::memcpy(cam.black_store, buffer, words * sizeof(uint16_t));
  cam.black_ref_present = 1;
  return err::kOk;
}

int32_t set_black_ref(CameraRecord& cam, int32_t on) {
  return switch_to(cam, on, cam.black_ref_present, cam.black_ref_switch);
}

int32_t set_white_ref(CameraRecord& cam, int32_t on) {
  return switch_to(cam, on, cam.white_ref_present, cam.white_ref_switch);
}

int32_t set_white_table(CameraRecord& cam, const uint16_t* table) {
  const size_t words = white_table_words(cam);
  if (table == nullptr || words == 0) return err::kArgument;
  const std::lock_guard<std::shared_mutex> lock(cam.settings_lock);
  std::memcpy(cam.white_table, table, words * sizeof(uint16_t));
  cam.white_ref_present = 1;
  return err::kOk;
}

int32_t get_white_table(const CameraRecord& cam, uint16_t* table) {
  const std::shared_lock<std::shared_mutex> lock(cam.settings_lock);
  const size_t words = white_table_words(cam);
  if (table == nullptr || words == 0 || cam.white_ref_present == 0) return err::kArgument;
  std::memcpy(table, cam.white_table, words * sizeof(uint16_t));
  return err::kOk;
}

}  // namespace ucap
