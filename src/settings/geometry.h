// Capture geometry of a camera: resolution, pixel depth, binning, and the image and
// frame rectangles with their alignment rules. The settings take effect at the next
// capture set-up, which receives the image rectangle in full-sensor pixels.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace ucap {

struct CameraRecord;

inline constexpr int32_t kResolutionCount = 4;
inline constexpr int32_t kBitsColor = 36;
inline constexpr int32_t kBitsMono = 12;

// Whether a pixel depth, and a binning factor at a pixel depth, are allowed at a
// resolution.
bool bits_per_pixel_allowed(int32_t resolution, int32_t bits);
bool binning_allowed(int32_t resolution, int32_t bits, int32_t factor);

// Width and height reported for a resolution, and its third value (the resolution
// itself). 8 for a resolution other than 0..3.
int32_t resolution_values(const CameraRecord& cam, int32_t resolution, int32_t& width,
                          int32_t& height, int32_t& third);

// Sensor-pixel size of requests without a rectangle: mode 0 output size at resolutions
// 0 and 1, mode 2 output size at 2 and 3.
Rect reference_rect(const CameraRecord& cam);

// v divided by g with the quotient rounded toward zero, times g.
inline int32_t truncate_to(int32_t v, int32_t g) { return v / g * g; }

// Setters: 10 while an acquisition runs or holds the settings (core/record.h, Hold), 8 for
// values the camera cannot take.
int32_t set_resolution(CameraRecord& cam, int32_t resolution);
int32_t set_bits_per_pixel(CameraRecord& cam, int32_t bits);
int32_t set_binning(CameraRecord& cam, int32_t factor);

// rect in current-resolution coordinates, or null for the whole reference size.
int32_t set_image_size(CameraRecord& cam, const Rect* rect);
// rect in sensor pixels, or null for the whole reference size.
int32_t set_frame_size(CameraRecord& cam, const Rect* rect);
// The same without the checks, for whoever holds the settings already (a change in
// progress, or the full-frame shot of a reference calculation).
void store_frame(CameraRecord& cam, const Rect* rect);
// The image rectangle in current-resolution coordinates.
Rect current_image_size(const CameraRecord& cam);
// Width and height of the image an acquisition delivers; 8 when the stored rectangle
// has no size that 32 bits can express.
int32_t current_data_size(const CameraRecord& cam, int32_t& width, int32_t& height);

}  // namespace ucap
