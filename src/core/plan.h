// The capture plan: the settings of one acquisition, taken from the camera record once,
// when the acquisition takes its hold, and checked then. The transfer set-up, the frame
// worker and the processing chain read only the plan, never the record's settings, so a
// reference calculation's full-sensor shots leave the user's settings untouched and a
// query on another thread always sees them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types.h"

namespace ucap {

// Which stages a frame goes through after the transfer.
enum class Pipeline {
  kSingleShot,    // high-quality interpolation, references applied row by row
  kStream,        // block interpolation at full resolution, quality 1 unbinned interlaced,
                  // pre-binned references at half resolution with binning
  kRawReference,  // a dark frame of the black reference: no smear correction
};

struct CapturePlan {
  int32_t resolution = 0;
  int32_t bits_per_pixel = 0;
  int32_t binning = 1;
  int32_t exposure = 0;  // microseconds
  int32_t ticks = 0;     // reference ticks of 250 us
  Rect image{};          // the image rectangle in sensor coordinates
  int32_t black = 0;     // reference switches
  int32_t white = 0;
  int32_t black_present = 0;  // the black store holds a reference (blemish correction)
  int32_t packed = 0;         // the camera sends 12-bit samples packed
  Pipeline pipeline = Pipeline::kSingleShot;
  // What the set-up made of it: the rectangle the camera transfers (read back from the
  // camera) and the bytes of a packed frame.
  Rect transferred{};
  uint64_t packed_bytes = 0;

  // Camera mode: 0 at resolutions 0 and 1, 2 at 2 and 3.
  int32_t mode() const { return resolution <= 1 ? 0 : 2; }
};

}  // namespace ucap
