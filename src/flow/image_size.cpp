#include "flow/image_size.h"

#include <limits>

#include "core/reporter.h"
#include "core/state.h"
#include "settings/exposure.h"
#include "settings/geometry.h"

namespace ucap::flow {

namespace {

int32_t bytes_or_zero(int64_t width, int64_t height, int64_t bytes_per_pixel) {
  if (width <= 0 || height <= 0) return 0;
  const int64_t bytes = width * height * bytes_per_pixel;
  return bytes > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(bytes);
}

}  // namespace

int32_t camera_mode_of(const CameraRecord& cam) { return cam.resolution <= 1 ? 0 : 2; }

int32_t reference_ticks(const CameraRecord& cam) { return exposure_ticks(cam.exposure); }

int32_t image_bytes(const CameraRecord& cam) {
  const Rect& r = cam.image_rect;
  const int64_t b = cam.binning;
  int64_t d = 1;
  if (cam.resolution == 1) {
    d = 2 * b;
  } else if (cam.resolution != 0) {
    d = b;
  }
  if (d <= 0) return 0;
  const int64_t width = r.right / d - r.left / d;
  const int64_t height = r.bottom / d - r.top / d;
  return bytes_or_zero(width, height, cam.bits_per_pixel == kBitsMono ? 2 : 6);
}

int32_t ImageDataSize(int32_t index) {
  const CameraRecord* cam = camera(index);
  if (cam == nullptr) {
    report(msg::kInternalSizeError, index);
    return 0;
  }
  return image_bytes(*cam);
}

bool combination_allowed(const CameraRecord& cam) {
  return bits_per_pixel_allowed(cam.resolution, cam.bits_per_pixel) &&
         binning_allowed(cam.resolution, cam.bits_per_pixel, cam.binning);
}

bool transfer_makes(const CameraRecord& cam, int32_t bytes) {
  const int64_t W = cam.transferred.width(), H = cam.transferred.height();
  const int64_t b = cam.binning;
  // The stages need whole mosaic cells across and the rows their modes pair up.
  if (W <= 0 || H <= 0 || W % 2 != 0 || b < 1 || b > 5) return false;
  if (W > cam.sensor_width || H > cam.sensor_height) return false;
  int64_t made = 0;
  switch (cam.resolution) {
    case 0:
      made = 2 * H * W * 6;
      break;
    case 1:
      if (W % (2 * b) != 0) return false;
      made = H * (W / (2 * b)) * (cam.bits_per_pixel == kBitsMono ? 2 : 6);
      break;
    case 2:
      if (H % 2 != 0) return false;
      made = b == 1 ? W * H * 6 : H * (2 * ((W / b) / 2)) * 6;
      break;
    case 3:
      if (H % 2 != 0) return false;
      made = W * H * 2;
      break;
    default:
      return false;
  }
  return made == bytes;
}

}  // namespace ucap::flow
