// The acquisition state of one camera: who has the camera's settings and what its stream
// is doing, in one atomic value. It changes only through the transitions below, each a
// compare-exchange from the state(s) it may leave, so every refusal is a transition that
// failed. docs/architecture.md draws the diagram.
#pragma once

#include <atomic>
#include <cstdint>

namespace ucap {

enum class Acquisition : int32_t {
  kIdle = 0,      // nobody has the settings
  kChange,        // a settings change writes them
  kShot,          // a single shot or a reference calculation (with its full-frame shots) reads them
  kStarting,      // a stream start sets the transfer up; no stream yet
  kStream,        // a stream runs between readiness checks
  kCheck,         // a readiness check collects a frame of the stream
  kAbortWaiting,  // an abort has claimed the stream and waits for the readiness check
  kAborting,      // an abort ends the stream
  kAbortUnfinished,  // an abort could not cancel the pending frame: the transfer is still set
                     // up, and the next abort or start finishes it
};

// What an abort found when it claimed the stream.
enum class AbortClaim {
  kClaimed,     // it is the abort's now (from a stream, or from an unfinished abort)
  kAfterCheck,  // it is once the readiness check under way hands it over; the abort waits
  kUnderWay,    // another abort has it
  kNoStream,    // no stream runs
};

class AcquisitionState {
 public:
  Acquisition now() const noexcept { return state_.load(); }

  // idle -> holder (kChange, kShot or kStarting). False: somebody else has the settings.
  bool claim(Acquisition holder) noexcept { return move(Acquisition::kIdle, holder); }
  // holder -> idle: the holder is done.
  void release(Acquisition holder) noexcept { move(holder, Acquisition::kIdle); }
  // kStarting -> kStream: the stream's first frame worker runs.
  void stream_started() noexcept { move(Acquisition::kStarting, Acquisition::kStream); }

  // kStream -> kCheck. False (and the state seen in `seen`) when no frame may be collected.
  bool begin_check(Acquisition* seen) noexcept {
    *seen = Acquisition::kStream;
    return state_.compare_exchange_strong(*seen, Acquisition::kCheck);
  }
  // The check is done: kCheck -> kStream while the stream goes on, else -> kIdle. An abort
  // that claimed the stream meanwhile (kAbortWaiting) gets it: -> kAborting, or kIdle when
  // the check has ended the stream itself.
  void end_check(bool stream_goes_on) noexcept {
    const Acquisition after = stream_goes_on ? Acquisition::kStream : Acquisition::kIdle;
    if (move(Acquisition::kCheck, after)) return;
    move(Acquisition::kAbortWaiting, stream_goes_on ? Acquisition::kAborting : Acquisition::kIdle);
  }

  // An abort claims the stream: kStream or kAbortUnfinished -> kAborting, kCheck ->
  // kAbortWaiting.
  AbortClaim claim_abort() noexcept {
    for (Acquisition s = now();;) {
      switch (s) {
        case Acquisition::kStream:
        case Acquisition::kAbortUnfinished:
          if (state_.compare_exchange_strong(s, Acquisition::kAborting))
            return AbortClaim::kClaimed;
          break;
        case Acquisition::kCheck:
          if (state_.compare_exchange_strong(s, Acquisition::kAbortWaiting))
            return AbortClaim::kAfterCheck;
          break;
        case Acquisition::kAbortWaiting:
        case Acquisition::kAborting: return AbortClaim::kUnderWay;
        default: return AbortClaim::kNoStream;
      }
    }
  }
  // A start finishes an unfinished abort itself: kAbortUnfinished -> kAborting.
  bool resume_abort() noexcept {
    return move(Acquisition::kAbortUnfinished, Acquisition::kAborting);
  }
  // The abort's end: kAborting -> kIdle, or -> kAbortUnfinished when its frame could not be
  // cancelled.
  void end_abort(bool finished) noexcept {
    move(Acquisition::kAborting, finished ? Acquisition::kIdle : Acquisition::kAbortUnfinished);
  }

  // The close, once no export runs: whatever was left (a stream the application did not
  // end) -> kIdle.
  void reset() noexcept { state_.store(Acquisition::kIdle); }

 private:
  bool move(Acquisition from, Acquisition to) noexcept {
    return state_.compare_exchange_strong(from, to);
  }
  std::atomic<Acquisition> state_{Acquisition::kIdle};
};

}  // namespace ucap
