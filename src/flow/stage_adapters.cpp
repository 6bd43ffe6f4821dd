#include "flow/stage_adapters.h"

#include <algorithm>

#include "core/record.h"
#include "core/reporter.h"
#include "core/state.h"
#include "device/transport.h"
#include "platform/platform.h"

namespace ucap {

namespace {

platform::WorkBuffer global_work_area(size_t bytes) { return platform::WorkBuffer(bytes); }

constexpr StageServices kLibraryServices{&global_work_area, &report};

}  // namespace

const StageServices& library_services() { return kLibraryServices; }

ReferenceView references_of(const CameraRecord& cam) {
  return ReferenceView{cam.black_store, cam.white_table, cam.sensor_width, cam.sensor_height};
}

void UnpackPixels12(CameraRecord& cam, int32_t mode, uint8_t* frame) {
  const size_t frame_bytes = device::frame_buffer_bytes(cam);
  UnpackPixels12(frame, frame_bytes, mode, cam.transferred.width(), cam.transferred.height(),
                 static_cast<uint64_t>(cam.bytes_per_packet) * cam.packets_per_frame);
}

void InterleaveFields(CameraRecord& cam, uint16_t* dst, const uint16_t* src) {
  InterleaveFields(dst, src, cam.transferred.width(), cam.transferred.height());
}

void ApplyReferences(CameraRecord& cam, uint16_t* image, int32_t ticks, const Rect& rect,
                     int32_t binning, int32_t black, int32_t white, int32_t row_pair) {
  ApplyReferences(references_of(cam), image, ticks, rect, binning, black != 0, white != 0,
                  row_pair != 0);
}

void CorrectBlemishes(CameraRecord& cam, uint16_t* image, const Rect& rect, int32_t binning,
                      int32_t ticks, int32_t row_pair) {
  if (state().blemish_switch.load() == 0 || cam.blemish_list_valid == 0) return;
  CorrectBlemishes(cam.blemishes, cam.blemish_count, references_of(cam), cam.black_ref_present != 0,
                   image, rect, binning, ticks, row_pair != 0);
}

void PrepareBinnedReferences(CameraRecord& cam, int32_t ticks, const Rect& rect, int32_t binning,
                             int32_t black, int32_t white) {
  PrepareBinnedReferences(references_of(cam),
                          BinnedReferences{cam.binned_black, cam.binned_white, kBinnedRefWords},
                          ticks, rect, binning, black != 0, white != 0);
}

void ApplyBinnedReferences(CameraRecord& cam, uint16_t* image, const Rect& rect, int32_t binning,
                           int32_t black, int32_t white) {
  ApplyBinnedReferences(cam.binned_black, cam.binned_white, kBinnedRefWords, image, rect, binning,
                        black != 0, white != 0);
}

void CorrectSmear(CameraRecord& cam, uint16_t* image, int32_t width, int32_t height) {
  if (cam.reference_frame_mode.load() != 0) return;
  CorrectSmear(image, width, height);
}

void AssembleHalfColor(CameraRecord& cam, uint16_t* out, const uint16_t* in, int32_t binning,
                       const Rect& rect) {
  AssembleHalfColor(cam.tables, out, in, binning, rect);
}

void ApplyColorMatrix(CameraRecord& cam, uint16_t* pixels, int32_t count) {
  ApplyColorMatrix(cam.tables, cam.color_processing.load(), pixels, count);
}

void InterpolateColor(CameraRecord& cam, uint16_t* out, const uint16_t* raw, const Rect& rect,
                      int32_t quality) {
  InterpolateColor(cam.tables, out, raw, rect, quality, library_services());
}

void InterpolateBinned(CameraRecord& cam, uint16_t* out, const uint16_t* raw, const Rect& rect,
                       int32_t binning) {
  InterpolateBinned(cam.tables, out, raw, rect, binning, library_services());
}

void InterpolateBlocks(CameraRecord& cam, uint16_t* out, const uint16_t* raw, const Rect& rect) {
  InterpolateBlocks(cam.tables, out, raw, rect);
}

}  // namespace ucap
