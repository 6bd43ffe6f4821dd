// The black and white reference calculations: full-sensor shots through getfullframe,
// reduced to the stored forms of the black reference store and the white table.
#pragma once

#include <cstdint>

#include "core/record.h"
#include "flow/progress.h"

namespace ucap::flow {

// Black reference of the camera: a 250 us and a 65535-tick
// dark frame. 0, 4, 7, 10 or 12; a failure leaves the store, its flag and switch alone.
int32_t calculate_black_ref(CameraRecord& cam, Progress progress);

// Installs the stored form of a work buffer of (H + 2) x W words (the long dark frame,
// then the column means, then the row means) and marks the black reference present.
// 3 when `record` is not a record of the camera table, 8 for a null buffer, 10 while
// the camera's acquisition runs.
int32_t set_black_ref_from(const void* record, const uint16_t* buffer);

// White reference of the camera: four frames at the current exposure. 0, 4, 7, 10,
// 13 or 14; a failure leaves the table and its flag alone.
int32_t calculate_white_ref(CameraRecord& cam, Progress progress);

// Gains of the white table from the sum of four frames `sum` (W x H words) and the dark
// signal scale `n` (reference ticks less one). 0, 7, 13 or 14; the table is written only
// on success.
int32_t CalculateWhiteRef(CameraRecord& cam, const uint16_t* sum, int32_t n);

}  // namespace ucap::flow
