// The pixel stages as the acquisition flow runs them on a camera: each overload takes its
// tables, references, switches and geometry from the camera record (and the process-wide
// blemish switch) and hands the stage the library's work buffers and error reporter.
#pragma once

#include <cstdint>

#include "acquisition/binned_references.h"
#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "color/interpolation.h"
#include "core/stage_services.h"
#include "core/types.h"

namespace ucap {

struct CameraRecord;

// Work areas from the platform's global heap, reports through the error reporter.
const StageServices& library_services();

// The black reference store and white table of the record, with its sensor size.
ReferenceView references_of(const CameraRecord& cam);

// ---- raw frame stages ----------------------------------------------------------------
// The transferred rectangle and packet geometry of the last set-up; the frame is one of the
// record's driver frame buffers.
void UnpackPixels12(CameraRecord& cam, int32_t mode, uint8_t* frame);
void InterleaveFields(CameraRecord& cam, uint16_t* dst, const uint16_t* src);
void ApplyReferences(CameraRecord& cam, uint16_t* image, int32_t ticks, const Rect& rect,
                     int32_t binning, int32_t black, int32_t white, int32_t row_pair);
// Reads the list, its valid flag, the black-reference-present flag and the process-wide
// blemish switch; leaves the record's list unchanged.
void CorrectBlemishes(CameraRecord& cam, uint16_t* image, const Rect& rect, int32_t binning,
                      int32_t ticks, int32_t row_pair);

// ---- binned references -------------------------------------------------------------------
void PrepareBinnedReferences(CameraRecord& cam, int32_t ticks, const Rect& rect, int32_t binning,
                             int32_t black, int32_t white);
void ApplyBinnedReferences(CameraRecord& cam, uint16_t* image, const Rect& rect, int32_t binning,
                           int32_t black, int32_t white);

// ---- later stages ---------------------------------------------------------------------------
// Does nothing while the record's reference-frame mode is set.
void CorrectSmear(CameraRecord& cam, uint16_t* image, int32_t width, int32_t height);
void AssembleHalfColor(CameraRecord& cam, uint16_t* out, const uint16_t* in, int32_t binning,
                       const Rect& rect);
// With the record's color-processing switch.
void ApplyColorMatrix(CameraRecord& cam, uint16_t* pixels, int32_t count);

// ---- color interpolation ---------------------------------------------------------------------
void InterpolateColor(CameraRecord& cam, uint16_t* out, const uint16_t* raw, const Rect& rect,
                      int32_t quality);
void InterpolateBinned(CameraRecord& cam, uint16_t* out, const uint16_t* raw, const Rect& rect,
                       int32_t binning);
void InterpolateBlocks(CameraRecord& cam, uint16_t* out, const uint16_t* raw, const Rect& rect);

}  // namespace ucap
