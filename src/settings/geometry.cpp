#include "settings/geometry.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "core/errors.h"
#include "core/record.h"

namespace ucap {

namespace {

// The binning factor as a divisor: always 1..5 once the record has its start values.
int32_t binning_of(const CameraRecord& cam) { return std::clamp(cam.binning, 1, 5); }

bool fits_int32(int64_t v) {
  return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

void store_image_and_frame(CameraRecord& cam, const Rect& r) {
  cam.image_rect = r;
  cam.frame_rect = r;
}

}  // namespace

bool bits_per_pixel_allowed(int32_t resolution, int32_t bits) {
  switch (resolution) {
    case 0:
    case 2: return bits == kBitsColor;
    case 1: return bits == kBitsColor || bits == kBitsMono;
    case 3: return bits == kBitsMono;
    default: return false;
  }
}

bool binning_allowed(int32_t resolution, int32_t bits, int32_t factor) {
  switch (resolution) {
    case 0:
    case 3: return factor == 1;
    case 1:
      if (bits == kBitsColor) return factor == 1 || factor == 3 || factor == 5;
      if (bits == kBitsMono) return factor == 1 || factor == 2 || factor == 4;
      return false;
    case 2: return factor >= 1 && factor <= 5;
    default: return false;
  }
}

int32_t resolution_values(const CameraRecord& cam, int32_t resolution, int32_t& width,
                          int32_t& height, int32_t& third) {
  switch (resolution) {
    case 0:
      width = cam.modes[0].output_width;
      height = cam.modes[0].output_height;
      break;
    case 1:
      width = cam.modes[0].output_width >> 1;
      height = cam.modes[0].output_height >> 1;
      break;
    case 2:
    case 3:
      width = cam.modes[2].output_width;
      height = cam.modes[2].output_height;
      break;
    default: return err::kArgument;
  }
  third = resolution;
  return err::kOk;
}

Rect reference_rect(const CameraRecord& cam) {
  const ModeEntry& mode = cam.modes[cam.resolution <= 1 ? 0 : 2];
  return Rect{0, 0, mode.output_width, mode.output_height};
}

int32_t set_resolution(CameraRecord& cam, int32_t resolution) {
  if (static_cast<uint32_t>(resolution) >= static_cast<uint32_t>(kResolutionCount)) {
    return err::kArgument;
  }
  return change_settings(cam, [&]() -> int32_t {
    cam.resolution = resolution;
    return err::kOk;
  });
}

int32_t set_bits_per_pixel(CameraRecord& cam, int32_t bits) {
  return change_settings(cam, [&]() -> int32_t {
    if (bits != kBitsColor && bits != kBitsMono) return err::kArgument;
    // At resolution 1 each depth has its own binning factors: move to the neighbour.
    if (cam.resolution == 1) {
      if (bits == kBitsColor) {
        if (cam.binning == 2) cam.binning = 3;
        if (cam.binning == 4) cam.binning = 5;
      } else {
        if (cam.binning == 3) cam.binning = 2;
        if (cam.binning == 5) cam.binning = 4;
      }
    }
    cam.bits_per_pixel = bits;
    return err::kOk;
  });
}

int32_t set_binning(CameraRecord& cam, int32_t factor) {
  return change_settings(cam, [&]() -> int32_t {
    if (!binning_allowed(cam.resolution, cam.bits_per_pixel, factor)) return err::kArgument;
    cam.binning = factor;
    // Re-align the image rectangle to the new factor.
    const Rect current = cam.image_rect;
    store_frame(cam, &current);
    return err::kOk;
  });
}

int32_t set_image_size(CameraRecord& cam, const Rect* rect) {
  return change_settings(cam, [&]() -> int32_t {
    const int32_t b = binning_of(cam);
    if (rect == nullptr) {
      const int32_t g = cam.resolution == 1 ? 4 * b : 2 * b;
      const Rect whole = reference_rect(cam);
      store_image_and_frame(cam, Rect{truncate_to(whole.left, g), truncate_to(whole.top, g),
                                      truncate_to(whole.right, g), truncate_to(whole.bottom, g)});
      return err::kOk;
    }
    const int64_t in[4] = {rect->left, rect->top, rect->right, rect->bottom};
    int64_t out[4];
    int64_t max_right = 0;
    int64_t max_bottom = 0;
    switch (cam.resolution) {
      case 0:
        // The caller's own values are checked, before alignment.
        if (in[2] > cam.modes[0].output_width || in[3] > cam.modes[0].output_height) {
          return err::kArgument;
        }
        for (int i = 0; i < 4; ++i) out[i] = in[i] / 4 * 4;
        max_right = cam.modes[0].output_width;
        max_bottom = cam.modes[0].output_height;
        break;
      case 1:
        // Half-resolution, binned coordinates.
        for (int i = 0; i < 4; ++i) out[i] = in[i] * 2 * b;
        max_right = cam.modes[0].output_width;
        max_bottom = cam.modes[0].output_height;
        break;
      default:
        for (int i = 0; i < 4; ++i) out[i] = in[i] * b / (2 * b) * (2 * b);
        max_right = cam.modes[2].output_width;
        max_bottom = cam.modes[2].output_height;
        break;
    }
    if (out[2] > max_right || out[3] > max_bottom) return err::kArgument;
    // Coordinates whose sensor position is beyond 32 bits cannot be stored.
    for (int64_t v : out) {
      if (!fits_int32(v)) return err::kArgument;
    }
    store_image_and_frame(cam, Rect{static_cast<int32_t>(out[0]), static_cast<int32_t>(out[1]),
                                    static_cast<int32_t>(out[2]), static_cast<int32_t>(out[3])});
    return err::kOk;
  });
}

int32_t set_frame_size(CameraRecord& cam, const Rect* rect) {
  return change_settings(cam, [&]() -> int32_t {
    store_frame(cam, rect);
    return err::kOk;
  });
}

void store_frame(CameraRecord& cam, const Rect* rect) {
  const int32_t g = 4 * binning_of(cam);
  const Rect frame = rect != nullptr ? *rect : reference_rect(cam);
  cam.frame_rect = frame;
  cam.image_rect = Rect{truncate_to(frame.left, g), truncate_to(frame.top, g),
                        truncate_to(frame.right, g), truncate_to(frame.bottom, g)};
}

Rect current_image_size(const CameraRecord& cam) {
  const Rect& r = cam.image_rect;
  const int32_t b = binning_of(cam);
  int32_t d = 1;
  if (cam.resolution == 1) {
    d = 2 * b;
  } else if (cam.resolution != 0) {
    d = b;
  }
  return Rect{r.left / d, r.top / d, r.right / d, r.bottom / d};
}

int32_t current_data_size(const CameraRecord& cam, int32_t& width, int32_t& height) {
  const Rect r = current_image_size(cam);
  const int64_t w = static_cast<int64_t>(r.right) - r.left;
  const int64_t h = static_cast<int64_t>(r.bottom) - r.top;
  if (!fits_int32(w) || !fits_int32(h)) return err::kArgument;
  width = static_cast<int32_t>(w);
  height = static_cast<int32_t>(h);
  return err::kOk;
}

}  // namespace ucap
