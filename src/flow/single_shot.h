// Single-shot acquisition: one exposure, progress reports with abort and (for long or
// triggered exposures) cancel, then the frame processed into the caller's buffer; and the
// raw full-sensor shot of the reference calculations.
#pragma once

#include <cstdint>

#include "core/plan.h"
#include "core/record.h"
#include "flow/progress.h"

namespace ucap::flow {

// One image into `image` (`size` bytes) of the plan of the camera's settings. 0, or
// 3, 4, 6, 7, 8, 10, 11, 21, 24 or a code of the transport. Holds the camera's settings
// for the whole shot (10 while another holder has them).
int32_t DoAcquisition(CameraRecord& cam, uint16_t* image, int32_t size, Progress progress);

// Calls the progress callback every 50 ms of nominal exposure time until the frame has
// arrived and cancels the exposure on a request to stop when the exposure is longer than
// 2 s or waits for a hardware trigger. True when the shot is to be aborted: the last
// result asked to stop, or a close cancelled the exposure.
bool WatchExposure(CameraRecord& cam, const CapturePlan& plan, Progress progress);

// The full sensor as grey words (sensor width x height words into `buffer`), exposed for
// `ticks` reference ticks, without reference correction, through `pipeline` (kRawReference:
// smear left in), by a plan of its own: the camera's settings are not touched. For a
// caller that holds them (a reference calculation).
int32_t getfullframe(CameraRecord& cam, uint16_t* buffer, int32_t ticks, Pipeline pipeline,
                     Progress progress);

}  // namespace ucap::flow
