// Later acquisition stages: column smear correction, the half-resolution assemblies of
// frames whose rows the camera has already summed, and the color matrix.
#pragma once

#include <cstdint>

#include "core/color_table_types.h"
#include "core/types.h"

namespace ucap {

// Least-squares estimate of the fraction of the signal above a pixel that leaks into it.
// Rows wider than the widest sensor give 0.
double EstimateSmear(const uint16_t* image, int32_t width, int32_t height);
// The divisor n the correction takes from the estimate k (1 / k, k limited to +-1e-4,
// truncated), or 0 where the frame stays as it is (|k| below 1e-8).
int64_t smear_divisor(const uint16_t* image, int32_t width, int32_t height);
// Removes the estimated smear from the even columns, in place.
void CorrectSmear(uint16_t* image, int32_t width, int32_t height);

// One color pixel (blue, green, red) per 2b columns of each row of a row pair, through
// the channel gain tables. `rect` gives the frame's width and height.
void AssembleHalfColor(const ColorTables& tables, uint16_t* out, const uint16_t* in,
                       int32_t binning, const Rect& rect);

// One grey word per 2b consecutive input words, rounded to nearest.
void AssembleHalfMono(uint16_t* out, const uint16_t* in, int32_t binning, const Rect& rect);

// The color matrix over `count` color pixels, in place, when `enabled` is non-zero.
void ApplyColorMatrix(const ColorTables& tables, int32_t enabled, uint16_t* pixels, int32_t count);

// Grey words from color pixels: (blue + 2 green + red + 2) >> 2.
void grey_from_color(uint16_t* out, const uint16_t* pixels, int32_t count);

}  // namespace ucap
