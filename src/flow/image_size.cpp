#include "flow/image_size.h"

#include <limits>
#include <mutex>
#include <shared_mutex>

#include "settings/exposure.h"
#include "settings/geometry.h"

namespace ucap::flow {

namespace {

int32_t bytes_or_zero(int64_t width, int64_t height, int64_t bytes_per_pixel) {
  if (width <= 0 || height <= 0) return 0;
  const int64_t bytes = width * height * bytes_per_pixel;
  return bytes > std::numeric_limits<int32_t>::max() ? 0 : static_cast<int32_t>(bytes);
}

int32_t packed_in(const CameraRecord& cam, int32_t mode) {
  return cam.modes[mode].packing_supported != 0 && cam.packing != 0 ? 1 : 0;
}

}  // namespace

CapturePlan plan_of(const CameraRecord& cam, Pipeline pipeline) {
  // The store writes, which no hold excludes, set the present flags.
  const std::shared_lock<std::shared_mutex> lock(cam.settings_lock);
  CapturePlan p;
  p.resolution = cam.resolution;
  p.bits_per_pixel = cam.bits_per_pixel;
  p.binning = cam.binning;
  p.exposure = cam.exposure;
  p.ticks = exposure_ticks(cam.exposure);
  p.image = cam.image_rect;
  p.black = cam.black_ref_switch;
  p.white = cam.white_ref_switch;
  p.black_present = cam.black_ref_present;
  p.packed = packed_in(cam, p.mode());
  p.pipeline = pipeline;
  return p;
}

CapturePlan full_frame_plan(const CameraRecord& cam, int32_t ticks, Pipeline pipeline) {
  CapturePlan p;
  p.resolution = 3;
  p.bits_per_pixel = kBitsMono;
  p.binning = 1;
  p.exposure = ticks * kExposureStep;
  p.ticks = ticks;
  // The whole frame of the mode, in whole 4 x 4 blocks, as the frame setter makes it.
  const ModeEntry& mode = cam.modes[p.mode()];
  p.image = Rect{0, 0, truncate_to(mode.output_width, 4), truncate_to(mode.output_height, 4)};
  p.packed = packed_in(cam, p.mode());
  p.pipeline = pipeline;
  return p;
}

bool combination_allowed(const CapturePlan& plan) {
  return bits_per_pixel_allowed(plan.resolution, plan.bits_per_pixel) &&
         binning_allowed(plan.resolution, plan.bits_per_pixel, plan.binning);
}

int32_t image_bytes(const CapturePlan& plan) {
  const Rect& r = plan.image;
  const int64_t b = plan.binning;
  int64_t d = 1;
  if (plan.resolution == 1) {
    d = 2 * b;
  } else if (plan.resolution != 0) {
    d = b;
  }
  if (d <= 0) return 0;
  const int64_t width = r.right / d - r.left / d;
  const int64_t height = r.bottom / d - r.top / d;
  return bytes_or_zero(width, height, plan.bits_per_pixel == kBitsMono ? 2 : 6);
}

bool transfer_makes(const CapturePlan& plan, int32_t sensor_width, int32_t sensor_height,
                    int32_t bytes) {
  const int64_t W = plan.transferred.width(), H = plan.transferred.height();
  const int64_t b = plan.binning;
  // The stages need whole mosaic cells across and the rows their modes pair up.
  if (W <= 0 || H <= 0 || W % 2 != 0 || b < 1 || b > 5) return false;
  if (W > sensor_width || H > sensor_height) return false;
  int64_t made = 0;
  switch (plan.resolution) {
    case 0: made = 2 * H * W * 6; break;
    case 1:
      if (W % (2 * b) != 0) return false;
      made = H * (W / (2 * b)) * (plan.bits_per_pixel == kBitsMono ? 2 : 6);
      break;
    case 2:
      if (H % 2 != 0) return false;
      made = b == 1 ? W * H * 6 : H * (2 * ((W / b) / 2)) * 6;
      break;
    case 3:
      if (H % 2 != 0) return false;
      made = W * H * 2;
      break;
    default: return false;
  }
  return made == bytes;
}

}  // namespace ucap::flow
