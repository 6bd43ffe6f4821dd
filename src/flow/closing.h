// Whether the library is being closed: the long waits of the acquisition flow (exposure
// watch, frame waits, fast-acquisition abort) end early when it says so, cancelling the
// pending frame, so that a close never waits for a 60 s exposure or a trigger that never
// comes.
#pragma once

namespace ucap::flow {

bool closing_requested();

// Cancels the pending frame of every camera whose frame worker still waits: called by a
// waiting shut-down, for streams whose application no longer calls in.
void cancel_pending_frames();

// Cleans up every transfer still set up (a stream the application did not end), so that the
// camera's isochronous resources go back to the bus with the close. Called with the gate
// shut, when no frame is pending any more.
void release_transfers();

}  // namespace ucap::flow
