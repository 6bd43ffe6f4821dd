// Opening a camera and reading what it is: bus address, register bases, mode table,
// EEPROM image and blemish list.
#pragma once

#include <cstdint>

#include "core/record.h"

namespace ucap::device {

// Opens camera `number` (discovery order) and fills the connection group and the mode
// table. 0, 3 (not present / cannot be opened), 20 (a read failed) or 27 (initialise failed).
int32_t open_and_identify(CameraRecord& cam, int32_t number);

// Reads the 2048-byte EEPROM image and the blemish list. 0, 8, 20, 27 or 28. Blemish
// entries that would lie beyond the image's end are not read: the list is cut to the
// entries the image holds.
int32_t read_eeprom(CameraRecord& cam);

// Big-endian value of `count` image bytes from `offset` (only the last four survive);
// 0 for a count below 1. Bytes beyond the image are not read.
uint32_t read_eprom_value(const CameraRecord& cam, uint16_t offset, int16_t count);

}  // namespace ucap::device
