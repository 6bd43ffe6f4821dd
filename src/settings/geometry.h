// Capture geometry of a camera: resolution, pixel depth, binning, and the image and
// frame rectangles with their alignment rules. The settings take effect at the next
// capture set-up, which receives the image rectangle in full-sensor pixels.
#pragma once

#include <cstdint>

#include "core/types.h"

namespace ucap {

struct CameraRecord;

inline constexpr int32_t kResolutionCount = 4;
inline constexpr int32_t kBitsColour = 36;
inline constexpr int32_t kBitsMono = 12;

// Whether a pixel depth, and a binning factor at a pixel depth, are allowed at a
// resolution.
bool BitsPerPixelAllowed(int32_t resolution, int32_t bits);
bool BinningAllowed(int32_t resolution, int32_t bits, int32_t factor);

// Width and height reported for a resolution, and its third value (the resolution
// itself). 8 for a resolution other than 0..3.
int32_t ResolutionValues(const CameraRecord& cam, int32_t resolution, int32_t& width,
                         int32_t& height, int32_t& third);

// Sensor-pixel size of requests without a rectangle: mode 0 output size at resolutions
// 0 and 1, mode 2 output size at 2 and 3.
Rect ReferenceRect(const CameraRecord& cam);

// v divided by g with the quotient rounded toward zero, times g.
inline int32_t TruncateTo(int32_t v, int32_t g) { return v / g * g; }

// Setters: 10 while the acquisition is busy, 8 for values the camera cannot take.
int32_t SetResolution(CameraRecord& cam, int32_t resolution);
int32_t SetBitsPerPixel(CameraRecord& cam, int32_t bits);
int32_t SetBinning(CameraRecord& cam, int32_t factor);

// rect in current-resolution coordinates, or null for the whole reference size.
int32_t SetImageSize(CameraRecord& cam, const Rect* rect);
// rect in sensor pixels, or null for the whole reference size.
int32_t SetFrameSize(CameraRecord& cam, const Rect* rect);
// The image rectangle in current-resolution coordinates.
Rect CurrentImageSize(const CameraRecord& cam);
// Width and height of the image an acquisition delivers; 8 when the stored rectangle
// has no size that 32 bits can express.
int32_t CurrentDataSize(const CameraRecord& cam, int32_t& width, int32_t& height);

}  // namespace ucap
