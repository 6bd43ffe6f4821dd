// Binned references of continuous acquisition at half resolution with binning 2 to 5: the
// black offsets (already scaled to the exposure) and white gains of every image pixel,
// condensed once when the stream starts so that each frame costs one subtraction and one
// multiplication per pixel.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acquisition/raw_stages.h"
#include "core/types.h"

namespace ucap {

// Destination arrays of the pre-binned references, `capacity` words each.
struct BinnedReferences {
  uint16_t* black = nullptr;
  uint16_t* white = nullptr;
  size_t capacity = 0;
};

// Writes one value per column of `rect` for every group of 2b sensor rows, into `black`
// when the black switch is on and into `white` when the white switch is on. Nothing is
// written when the result would not fit the capacity.
void PrepareBinnedReferences(const ReferenceView& refs, const BinnedReferences& out, int32_t ticks,
                             const Rect& rect, int32_t binning, bool black, bool white);

// Corrects a binned half-resolution frame with the prepared arrays, in place.
void ApplyBinnedReferences(const uint16_t* black_offsets, const uint16_t* white_gains,
                           size_t capacity, uint16_t* image, const Rect& rect, int32_t binning,
                           bool black, bool white);

}  // namespace ucap
