// The colour lookup tables of one camera: channel gain tables (white balance) applied
// to raw samples before interpolation, and the colour-matrix term and output tables
// applied to finished colour pixels.
#pragma once

#include <cstdint>

namespace ucap {

enum Colour : int { kRed = 0, kGreen = 1, kBlue = 2 };

inline constexpr int kTableSize = 4096;
inline constexpr int kOutputTableSize = 24576;

struct ColorTables {
  // gain[c][s]: white-balanced value of raw sample s of colour c (red, green, blue).
  uint16_t gain[3][kTableSize];
  // term[k][x]: 4096 + x * coefficient k of the colour matrix (row-major, rows and
  // columns red, green, blue).
  uint16_t term[9][kTableSize];
  // output[sum of three terms]: the clamped output value.
  uint16_t output[kOutputTableSize];
};

}  // namespace ucap
