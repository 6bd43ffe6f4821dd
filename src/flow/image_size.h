// The size of the image an acquisition delivers for the current settings, and the checks
// that keep the processing inside the caller's buffer.
#pragma once

#include <cstdint>

#include "core/record.h"

namespace ucap::flow {

// Camera mode of the current resolution: 0 at resolutions 0 and 1, 2 at 2 and 3.
int32_t camera_mode_of(const CameraRecord& cam);

// Exposure in reference ticks of 250 us, truncated.
int32_t reference_ticks(const CameraRecord& cam);

// Bytes of the image the current settings and image rectangle make; 0 when the rectangle
// has no area or the size does not fit 32 bits.
int32_t image_bytes(const CameraRecord& cam);

// image_bytes of camera `index`; 0, with "(index)Internal size error", for an index that
// names no camera.
int32_t ImageDataSize(int32_t index);

// Whether the resolution, pixel depth and binning form one of the allowed combinations
// (the setters store each value on its own, so a stale mix can reach an acquisition).
bool combination_allowed(const CameraRecord& cam);

// Whether the image the stages make from the transferred rectangle has exactly `bytes`
// bytes (the camera reads the rectangle back; a camera reporting nonsense must not make
// the stages write past the caller's image).
bool transfer_makes(const CameraRecord& cam, int32_t bytes);

}  // namespace ucap::flow
