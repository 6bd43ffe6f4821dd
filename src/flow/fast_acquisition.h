// Fast (continuous) acquisition: the transfer is set up once; a worker receives frame
// n + 1 into one driver frame buffer while the application has frame n processed from
// the other.
#pragma once

#include <cstdint>

#include "core/record.h"

namespace ucap::flow {

// Starts the stream of the camera's settings (its plan is kept in the record). 0, 1, 4, 8, 10 or a code of
// the transport.
int32_t start_fast_acquisition(CameraRecord& cam);

// 1: a frame was delivered into `image`; 0: no frame yet; negative: a negated code (6, 7,
// 11, or 3, 21, 24 for a frame that did not arrive). With `go_on` 0 the delivered frame is
// the last one.
int32_t fast_acquisition_ready(CameraRecord& cam, uint16_t* image, int32_t size, int32_t go_on);

// Stops the stream: 0, 4 (an abort under way, or the device cannot be opened to cancel
// the pending frame) or 11 (no stream).
int32_t abort_fast_acquisition(CameraRecord& cam);

}  // namespace ucap::flow
