// The two calibration references of a camera, the black reference store and the white
// table, with their present flags and the switches that make acquisitions apply them.
// Both always have the full-sensor geometry W x H of the camera record.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ucap {

struct CameraRecord;

// Words of the black reference store: H rows of dark signal, the column-offset row and
// the row-offset row, each W words. 0 when the sensor geometry does not fit the record.
size_t black_store_words(const CameraRecord& cam);
// Words of the white table: W x H. 0 when the sensor geometry does not fit the record.
size_t white_table_words(const CameraRecord& cam);

// 8: null buffer, size not exactly the store's byte size, or no black reference. The
// store is copied whole under the settings lock (old or new, never a mix).
int32_t save_black_ref(const CameraRecord& cam, void* buffer, int32_t size);
// 8: null buffer or wrong size. Otherwise stores the bytes unchanged, whole under the
// settings lock, and marks the reference present; the switch is not touched.
int32_t restore_black_ref(CameraRecord& cam, const void* buffer, int32_t size);
// 10 while busy; 8 when switching on with no reference; stores 1 for any non-zero on.
int32_t set_black_ref(CameraRecord& cam, int32_t on);

int32_t set_white_ref(CameraRecord& cam, int32_t on);
// 8: null buffer. Copies W x H words, taken unchanged, whole under the settings lock, and
// marks the reference present.
int32_t set_white_table(CameraRecord& cam, const uint16_t* table);
// 8: null buffer or no white reference.
int32_t get_white_table(const CameraRecord& cam, uint16_t* table);

}  // namespace ucap
