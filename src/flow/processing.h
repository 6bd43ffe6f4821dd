// Turns a raw frame in a driver frame buffer into the finished image in the caller's
// buffer, by resolution, pixel depth and binning. The frame is processed in place.
#pragma once

#include <cstdint>

#include "core/record.h"

namespace ucap::flow {

enum class Pipeline {
  kSingleShot,  // high-quality interpolation, references applied row by row
  kStream,      // block interpolation at full resolution, quality 1 unbinned interlaced,
                // pre-binned references at half resolution with binning
};

// Expands packed samples when the camera sent them packed, then processes the frame whose
// geometry is the transferred rectangle into `out` (transfer_makes() has vouched for its
// size). 0, or 7 when a work image cannot be allocated (out not written then).
int32_t process_frame(CameraRecord& cam, uint8_t* frame, uint16_t* out, Pipeline pipeline);

}  // namespace ucap::flow
