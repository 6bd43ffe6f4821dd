// Firmware download: the firmware text turned into its image, the image written to the
// camera's firmware memory block by block, and the new firmware started.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/record.h"
#include "device/requests.h"

namespace ucap::device {

// The memory command's 24-bit offset reaches this far into the firmware memory.
inline constexpr size_t kMaxFirmwareBytes = kMemoryOffsetLimit;
// Reads of a busy memory command before a block counts as not written.
inline constexpr uint32_t kFirmwarePollReads = 1000;

// Firmware image of a text: code 0 and one byte per line in line order, padded with
// 0xFF to whole 128-byte blocks; or code 8 and no bytes.
struct FirmwareImage {
  int32_t code = 0;
  std::vector<uint8_t> bytes;
};

// Parses `length` bytes of `text`: lines end in CR LF; a line's byte is made of its last
// eight characters before the CR ('1' a one bit, anything else a zero bit); a space
// starts a comment that runs to the CR. A last line ended by a lone CR or by the end of
// the text yields its byte like any other; an empty text yields no bytes. Code 8 for a
// CR followed by anything but LF, a negative length, or a null text with a length above
// 0. Nothing at or past `length` is read.
FirmwareImage parse_firmware(const char* text, int32_t length);

// Writes the firmware of a text to the camera and starts it: 0, 8 (malformed text, or an
// image beyond the memory command's reach, both before anything is sent), 10 (the
// camera's acquisition runs) or 27 (a write, the memory command or vendor access failed;
// the firmware is then not started). A text that yields no bytes writes no block and
// starts the firmware the memory already holds.
int32_t write_firmware(CameraRecord& cam, const char* text, int32_t length);

}  // namespace ucap::device
