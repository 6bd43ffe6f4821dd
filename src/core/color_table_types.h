// The color lookup tables of a camera as the camera record holds them. Their builders
// and the settings that fill them live in calibration/color_tables.h; the pixel stages
// only read them.
#pragma once

#include <cstdint>

namespace ucap {

enum Color : int { kRed = 0, kGreen = 1, kBlue = 2 };

inline constexpr int kTableSize = 4096;
// Meaningful part of the output table: sums below 12288 give 0, 12288..16383 give
// 0..4095, everything above gives 4095.
inline constexpr int kOutputTableSize = 24576;
// Largest value a term table entry can hold, and the room the output table has so
// that any sum of three term entries is a valid index, whatever the saturation.
inline constexpr int kTermMax = 65535;
inline constexpr int kOutputTableSpan = 3 * kTermMax + 1;

struct ColorTables {
  // gain[c][s]: white-balanced value of raw sample s of color c (red, green, blue).
  uint16_t gain[3][kTableSize];
  // term[k][x]: 4096 + x * coefficient k of the color matrix (row-major, rows and
  // columns red, green, blue).
  uint16_t term[9][kTableSize];
  // output[sum of three terms]: the clamped output value. Entries from
  // kOutputTableSize on all hold 4095.
  uint16_t output[kOutputTableSpan];
};

}  // namespace ucap
