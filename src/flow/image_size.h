// The capture plan of an acquisition made from a camera record's settings, the size of
// the image it delivers, and the checks that keep the processing inside the caller's
// buffer.
#pragma once

#include <cstdint>

#include "core/plan.h"
#include "core/record.h"

namespace ucap::flow {

// The plan of the record's current settings (for a caller that holds them).
CapturePlan plan_of(const CameraRecord& cam, Pipeline pipeline);

// The plan of a reference calculation's shot: the full sensor as grey words at resolution
// 3, binning 1, exposed for `ticks`, no references; `pipeline` kRawReference leaves the
// smear in (the dark frames), kSingleShot corrects it.
CapturePlan full_frame_plan(const CameraRecord& cam, int32_t ticks, Pipeline pipeline);

// Whether the resolution, pixel depth and binning form one of the allowed combinations
// (the setters store each value on its own, so a stale mix can reach an acquisition).
bool combination_allowed(const CapturePlan& plan);

// Bytes of the image the plan makes; 0 when the rectangle has no area or the size does
// not fit 32 bits.
int32_t image_bytes(const CapturePlan& plan);

// Whether the image the stages make from the plan's transferred rectangle has exactly
// `bytes` bytes, within a sensor of that size (the camera reads the rectangle back; a
// camera reporting nonsense must not make the stages write past the caller's image).
bool transfer_makes(const CapturePlan& plan, int32_t sensor_width, int32_t sensor_height,
                    int32_t bytes);

}  // namespace ucap::flow
