// Calibration files: a black reference or a white table with the sensor size it was made
// for. Layout (little-endian):
//   bytes  0..7   magic "UCAPREF\0"
//          8..11  version (1)
//         12..15  kind: 1 black reference, 2 white table
//         16..19  sensor width W, 20..23 sensor height H
//         24..27  number of 16-bit words that follow: (H + 2) * W (black) or W * H (white)
//         28..31  CRC-32 (zlib) of bytes 0..27 followed by the words
//         32..    the words, as the library saves them
// A file is checked completely before anything of it is handed to the library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tool {

enum class ReferenceKind : uint32_t { kBlack = 1, kWhite = 2 };

struct Reference {
  ReferenceKind kind;
  uint32_t width, height;
  std::vector<uint16_t> words;
};

// Words of a reference of `kind` for a W x H sensor.
size_t reference_words(ReferenceKind kind, uint32_t width, uint32_t height);
const char* reference_name(ReferenceKind kind);

void write_reference(const std::string& path, const Reference& reference);

// Reads and checks a file: its magic, version, kind, the sensor size it was made for, its
// length and checksum. Throws a Failure that says what is wrong.
Reference read_reference(const std::string& path, ReferenceKind kind, uint32_t width,
                         uint32_t height);

}  // namespace tool
