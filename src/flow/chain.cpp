#include "flow/chain.h"

#include <cstring>

#include "acquisition/frame_stages.h"
#include "color/interpolation.h"
#include "core/errors.h"
#include "settings/geometry.h"

namespace ucap::flow {

namespace {

constexpr int32_t kQualityHigh = 2;
constexpr int32_t kQualityStandard = 1;

struct Frame {
  const CapturePlan& plan;
  const ChainInputs& in;
  uint16_t* raw;
  uint16_t* out;
  int32_t W, H, b;

  bool references_on() const { return plan.black != 0 || plan.white != 0; }
  void apply_references(uint16_t* image, bool row_pair) const {
    if (references_on())
      ApplyReferences(in.references, image, plan.ticks, plan.image, b, plan.black != 0,
                      plan.white != 0, row_pair);
  }
  void correct_blemishes(uint16_t* image, bool row_pair) const {
    if (in.blemishes == nullptr) return;
    CorrectBlemishes(in.blemishes, in.blemish_count, in.references, plan.black_present != 0, image,
                     plan.image, b, plan.ticks, row_pair);
  }
  void correct_smear(uint16_t* image) const {
    if (plan.pipeline != Pipeline::kRawReference) CorrectSmear(image, W, H);
  }
  void color_matrix(int32_t pixels) const {
    ApplyColorMatrix(*in.tables, in.color_matrix, out, pixels);
  }
  platform::WorkBuffer work(int64_t words) const {
    return in.services->work_area(static_cast<size_t>(words) * sizeof(uint16_t));
  }
};

int32_t full_resolution(const Frame& f) {
  f.apply_references(f.raw, true);
  f.correct_blemishes(f.raw, true);
  platform::WorkBuffer work = f.work(int64_t{2} * f.H * f.W);
  if (!work) return err::kNoMemory;
  double_rows(work.as<uint16_t>(), f.raw, f.W, f.H);
  const Rect doubled{0, 0, f.W, 2 * f.H};
  if (f.plan.pipeline == Pipeline::kStream) {
    InterpolateBlocks(*f.in.tables, f.out, work.as<uint16_t>(), doubled);
  } else {
    InterpolateColor(*f.in.tables, f.out, work.as<uint16_t>(), doubled, kQualityHigh,
                     *f.in.services);
  }
  f.color_matrix(2 * f.W * f.H);
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
  AssembleHalfColor(*f.in.tables, pixels, rows, f.b, Rect{0, 0, f.W, 2});
  std::memcpy(out + static_cast<size_t>(f.H - 1) * Q * 3, pixels,
              static_cast<size_t>(Q) * 3 * sizeof(uint16_t));
}

int32_t half_resolution(const Frame& f) {
  if (f.b >= 2 && f.plan.pipeline == Pipeline::kStream) {
    if (f.references_on())
      ApplyBinnedReferences(f.in.binned_black, f.in.binned_white, f.in.binned_capacity, f.raw,
                            f.plan.image, f.b, f.plan.black != 0, f.plan.white != 0);
  } else {
    f.apply_references(f.raw, true);
  }
  f.correct_blemishes(f.raw, true);
  if (f.b == 1) f.correct_smear(f.raw);
  const Rect frame{0, 0, f.W, f.H};
  if (f.b % 2 == 0) {
    AssembleHalfMono(f.out, f.raw, f.b, frame);
    return err::kOk;
  }
  const int32_t pixels = f.W * f.H / 2 / f.b;
  if (f.plan.bits_per_pixel == kBitsMono) {
    platform::WorkBuffer work = f.work(int64_t{3} * pixels);
    if (!work) return err::kNoMemory;
    AssembleHalfColor(*f.in.tables, work.as<uint16_t>(), f.raw, 1, frame);
    assemble_last_row(f, work.as<uint16_t>());
    grey_from_color(f.out, work.as<uint16_t>(), pixels);
    return err::kOk;
  }
  AssembleHalfColor(*f.in.tables, f.out, f.raw, f.b, frame);
  assemble_last_row(f, f.out);
  f.color_matrix(pixels);
  return err::kOk;
}

int32_t interlaced_color(const Frame& f) {
  platform::WorkBuffer work = f.work(int64_t{f.W} * f.H);
  if (!work) return err::kNoMemory;
  uint16_t* image = work.as<uint16_t>();
  InterleaveFields(image, f.raw, f.W, f.H);
  f.apply_references(image, false);
  f.correct_blemishes(image, false);
  const Rect frame{0, 0, f.W, f.H};
  if (f.b == 1) {
    InterpolateColor(*f.in.tables, f.out, image, frame,
                     f.plan.pipeline == Pipeline::kStream ? kQualityStandard : kQualityHigh,
                     *f.in.services);
  } else {
    InterpolateBinned(*f.in.tables, f.out, image, frame, f.b, *f.in.services);
  }
  f.color_matrix(f.W * f.H / f.b);
  return err::kOk;
}

int32_t interlaced_grey(const Frame& f) {
  InterleaveFields(f.out, f.raw, f.W, f.H);
  if (f.b == 1) f.correct_smear(f.out);
  f.apply_references(f.out, false);
  f.correct_blemishes(f.out, false);
  return err::kOk;
}

}  // namespace

int32_t process_frame(const CapturePlan& plan, uint8_t* frame, size_t frame_bytes, uint16_t* out,
                      const ChainInputs& in) {
  const int32_t W = plan.transferred.width(), H = plan.transferred.height();
  if (plan.packed != 0) UnpackPixels12(frame, frame_bytes, plan.mode(), W, H, plan.packed_bytes);
  // Frame buffers are allocated blocks, aligned for 16-bit words.
  const Frame f{plan, in, reinterpret_cast<uint16_t*>(frame), out, W, H, plan.binning};
  switch (plan.resolution) {
    case 0: return full_resolution(f);
    case 1: return half_resolution(f);
    case 2: return interlaced_color(f);
    default: return interlaced_grey(f);
  }
}

}  // namespace ucap::flow
