// Whether the library is being closed: the long waits of the acquisition flow (exposure
// watch, frame waits, fast-acquisition abort) end early when it says so, cancelling the
// pending frame, so that a close never waits for a 60 s exposure or a trigger that never
// comes.
#pragma once

namespace ucap::flow {

bool closing_requested();

}  // namespace ucap::flow
