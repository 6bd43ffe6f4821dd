#include "flow/processing.h"

#include <cstring>

#include "acquisition/binned_references.h"
#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "color/interpolation.h"
#include "flow/stage_adapters.h"
#include "core/errors.h"
#include "flow/image_size.h"
#include "platform/platform.h"
#include "settings/geometry.h"

namespace ucap::flow {

namespace {

constexpr int32_t kQualityHigh = 2;
constexpr int32_t kQualityStandard = 1;

struct Frame {
  CameraRecord& cam;
  uint16_t* raw;
  uint16_t* out;
  Pipeline pipeline;
  int32_t W, H, b, ticks;
  int32_t black, white;

  bool references_on() const { return black != 0 || white != 0; }
  void apply_references(uint16_t* image, int32_t row_pair) const {
    if (references_on())
      ApplyReferences(cam, image, ticks, cam.image_rect, b, black, white, row_pair);
  }
  void correct_blemishes(uint16_t* image, int32_t row_pair) const {
    CorrectBlemishes(cam, image, cam.image_rect, b, ticks, row_pair);
  }
};

size_t words(int64_t count) { return static_cast<size_t>(count) * sizeof(uint16_t); }

int32_t full_resolution(const Frame& f) {
  f.apply_references(f.raw, 1);
  f.correct_blemishes(f.raw, 1);
  platform::WorkBuffer work(words(int64_t{2} * f.H * f.W));
  if (!work) return err::kNoMemory;
  double_rows(work.as<uint16_t>(), f.raw, f.W, f.H);
  const Rect doubled{0, 0, f.W, 2 * f.H};
  if (f.pipeline == Pipeline::kStream) {
    InterpolateBlocks(f.cam, f.out, work.as<uint16_t>(), doubled);
  } else {
    InterpolateColor(f.cam, f.out, work.as<uint16_t>(), doubled, kQualityHigh);
  }
  ApplyColorMatrix(f.cam, f.out, 2 * f.W * f.H);
  return err::kOk;
}

// A last row without a partner (odd height) is assembled with the row above it as its
// partner: it keeps its own red and green, and its blue comes from that row scaled by the
// ratio of the two greens, as in every other pair.
void assemble_last_row(const Frame& f, uint16_t* out) {
  if (f.H % 2 == 0 || f.H < 2) return;
  const size_t W = static_cast<size_t>(f.W);
  const int32_t Q = f.W / (2 * f.b);
  uint16_t rows[2 * kMaxSensorWidth];
  uint16_t pixels[2 * 3 * (kMaxSensorWidth / 2)];
  std::memcpy(rows, f.raw + (f.H - 1) * W, W * sizeof(uint16_t));
  std::memcpy(rows + W, f.raw + (f.H - 2) * W, W * sizeof(uint16_t));
  AssembleHalfColor(f.cam, pixels, rows, f.b, Rect{0, 0, f.W, 2});
  std::memcpy(out + static_cast<size_t>(f.H - 1) * Q * 3, pixels, static_cast<size_t>(Q) * 3 * sizeof(uint16_t));
}

int32_t half_resolution(const Frame& f) {
  if (f.b >= 2 && f.pipeline == Pipeline::kStream) {
    if (f.references_on()) ApplyBinnedReferences(f.cam, f.raw, f.cam.image_rect, f.b, f.black, f.white);
  } else {
    f.apply_references(f.raw, 1);
  }
  f.correct_blemishes(f.raw, 1);
  if (f.b == 1) CorrectSmear(f.cam, f.raw, f.W, f.H);
  const Rect frame{0, 0, f.W, f.H};
  if (f.b % 2 == 0) {
    AssembleHalfMono(f.out, f.raw, f.b, frame);
    return err::kOk;
  }
  const int32_t pixels = f.W * f.H / 2 / f.b;
  if (f.cam.bits_per_pixel == kBitsMono) {
    platform::WorkBuffer work(words(int64_t{3} * pixels));
    if (!work) return err::kNoMemory;
    AssembleHalfColor(f.cam, work.as<uint16_t>(), f.raw, 1, frame);
    assemble_last_row(f, work.as<uint16_t>());
    grey_from_color(f.out, work.as<uint16_t>(), pixels);
    return err::kOk;
  }
  AssembleHalfColor(f.cam, f.out, f.raw, f.b, frame);
  assemble_last_row(f, f.out);
  ApplyColorMatrix(f.cam, f.out, pixels);
  return err::kOk;
}

int32_t interlaced_color(const Frame& f) {
  platform::WorkBuffer work(words(int64_t{f.W} * f.H));
  if (!work) return err::kNoMemory;
  uint16_t* image = work.as<uint16_t>();
  InterleaveFields(f.cam, image, f.raw);
  f.apply_references(image, 0);
  f.correct_blemishes(image, 0);
  const Rect frame{0, 0, f.W, f.H};
  if (f.b == 1) {
    InterpolateColor(f.cam, f.out, image, frame,
                     f.pipeline == Pipeline::kStream ? kQualityStandard : kQualityHigh);
  } else {
    InterpolateBinned(f.cam, f.out, image, frame, f.b);
  }
  ApplyColorMatrix(f.cam, f.out, f.W * f.H / f.b);
  return err::kOk;
}

int32_t interlaced_grey(const Frame& f) {
  InterleaveFields(f.cam, f.out, f.raw);
  if (f.b == 1) CorrectSmear(f.cam, f.out, f.W, f.H);
  f.apply_references(f.out, 0);
  f.correct_blemishes(f.out, 0);
  return err::kOk;
}

}  // namespace

int32_t process_frame(CameraRecord& cam, uint8_t* frame, uint16_t* out, Pipeline pipeline) {
  const int32_t mode = camera_mode_of(cam);
  if (cam.modes[mode].packing_supported != 0 && cam.packing != 0) UnpackPixels12(cam, mode, frame);
  // The driver's frame buffers are allocated blocks, aligned for 16-bit words.
  const Frame f{cam, reinterpret_cast<uint16_t*>(frame), out, pipeline,
                cam.transferred.width(), cam.transferred.height(), cam.binning,
                reference_ticks(cam), cam.black_ref_switch, cam.white_ref_switch};
  switch (cam.resolution) {
    case 0: return full_resolution(f);
    case 1: return half_resolution(f);
    case 2: return interlaced_color(f);
    default: return interlaced_grey(f);
  }
}

}  // namespace ucap::flow
