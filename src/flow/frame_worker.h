// The pieces single shots and fast acquisition share: setting the transfer up, the
// frame-reading worker, cancelling a pending frame and waiting for it to end.
#pragma once

#include <cstdint>

#include "core/plan.h"
#include "core/record.h"

namespace ucap::flow {

// Sets the transfer up for `plan` (a stream's, or a single shot's) under the camera lock and
// fills in the plan's transferred rectangle and packed frame size. A transfer still set up
// from an earlier operation is reported ("Setup error") and cleaned up first, so that the
// new one matches the plan the caller's buffer was checked against. 0, or the code of the
// failing clean-up or set-up; 3 when a step failed because the camera has gone away.
int32_t set_up_transfer(CameraRecord& cam, CapturePlan& plan);

// Clean-up of the transfer under the camera lock: 0 or its code (3: the camera is gone).
int32_t clean_up_transfer(CameraRecord& cam);

// Frees, under the camera lock, what a clean-up was refused to free (the close calls it).
void give_back_leftovers(CameraRecord& cam);

// Sets the busy flag and starts ReadFrameThread for the buffer the selector names. False
// (busy flag 0 again) when the thread cannot be created.
bool start_frame_worker(CameraRecord& cam);

// Thread body: hands the selected frame buffer to the driver, waits for the frame under
// the camera lock, keeps the transfer's result in frame_result and clears the busy flag.
uint32_t ReadFrameThread(void* record);

// Ends a pending exposure: the one-shot register cleared through a handle of its own and,
// if the frame wait goes on, the driver's capture wait cancelled. False when the device
// cannot be opened again.
bool cancel_exposure(CameraRecord& cam);

// Waits until the busy flag is 0, polling every `poll_ms`. When the library is being
// closed, the pending frame is cancelled once (and `cancelled` set) before waiting on.
void wait_for_frame(CameraRecord& cam, uint32_t poll_ms, bool* cancelled);

}  // namespace ucap::flow
