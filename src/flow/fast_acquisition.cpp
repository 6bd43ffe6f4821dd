#include "flow/fast_acquisition.h"

#include <mutex>
#include <shared_mutex>

#include "core/errors.h"
#include "core/reporter.h"
#include "device/transport.h"
#include "flow/chain.h"
#include "flow/closing.h"
#include "flow/frame_worker.h"
#include "flow/image_size.h"
#include "flow/stage_adapters.h"
#include "platform/platform.h"

namespace ucap::flow {

namespace {

constexpr uint32_t kAbortPollMs = 10;
constexpr int32_t kStreamCancelAboveUs = 500000;  // an abort cancels exposures over 0.5 s

// Values of the abort flag during a stream.
constexpr int32_t kNoAbort = 0;
constexpr int32_t kAborting = 1;
// An abort that could not cancel its pending frame: the transfer is still set up, and the
// next abort or start finishes it.
constexpr int32_t kAbortUnfinished = 2;

// Steps of an abort once it has been claimed and the stream marked stopped: cancel the
// pending frame of a long or triggered exposure (short ones are let arrive), wait for the
// worker, clean up.
int32_t finish_abort(CameraRecord& cam) {
  if (cam.stream_plan.exposure > kStreamCancelAboveUs || cam.hardware_trigger != 0) {
    if (!cancel_exposure(cam)) {
      cam.abort.store(kAbortUnfinished);
      return err::kAborted;
    }
  }
  bool cancelled = false;
  wait_for_frame(cam, kAbortPollMs, &cancelled);
  clean_up_transfer(cam);
  cam.busy.store(0);
  release_hold(cam);
  cam.abort.store(kNoAbort);
  return err::kOk;
}

// Claims the abort flag from `from`.
bool claim_abort(CameraRecord& cam, int32_t from) {
  return cam.abort.compare_exchange_strong(from, kAborting);
}

}  // namespace

int32_t start_fast_acquisition(CameraRecord& cam) {
  if (cam.fast_running.load() != 0) return err::kBusy;
  if (claim_abort(cam, kAbortUnfinished)) {
    const int32_t c = finish_abort(cam);
    if (c != 0) return c;
  }
  if (cam.busy.load() != 0) return err::kBusy;
  if (cam.abort.load() != kNoAbort) return err::kAborted;
  // The stream holds the settings from here to its end (last frame, abort, a stop).
  Hold hold(cam, kHeldByAcquisition);
  if (!hold) return err::kBusy;
  CapturePlan plan = plan_of(cam, Pipeline::kStream);
  if (!combination_allowed(plan) || image_bytes(plan) == 0) {
    report(msg::kStartFastError, cam.index, err::kArgument);
    return err::kArgument;
  }
  {
    const std::shared_lock<std::shared_mutex> stores(cam.settings_lock);
    prepare_binned_references(cam, plan);
  }
  int32_t c = set_up_transfer(cam, plan);
  if (c == 0 && !transfer_makes(plan, cam.sensor_width, cam.sensor_height, image_bytes(plan))) {
    clean_up_transfer(cam);
    c = err::kArgument;
  }
  if (c != 0) {
    report(msg::kStartFastError, cam.index, c);
    return c;
  }
  cam.stream_plan = plan;
  cam.buffer_selector.store(0);
  cam.fast_running.store(1);
  if (!start_frame_worker(cam)) {
    cam.fast_running.store(0);
    if (closing_requested()) {  // no pass for the worker during a close
      clean_up_transfer(cam);
      return err::kNoCamera;
    }
    report(msg::kCreateThread, cam.index);
    clean_up_transfer(cam);
    return err::kFastThread;
  }
  hold.keep();
  return err::kOk;
}

int32_t fast_acquisition_ready(CameraRecord& cam, uint16_t* image, int32_t size, int32_t go_on) {
  // Marked waiting before the abort flag is read: an abort claims its flag first and then
  // waits for this one to drop, so the two can never both go on.
  cam.fast_wait.store(1);
  auto done = [&cam](int32_t result) {
    cam.fast_wait.store(0);
    return result;
  };
  if (cam.abort.load() != kNoAbort) return done(0);
  if (cam.fast_running.load() == 0) return done(-err::kThread);
  if (cam.busy.load() != 0) return done(0);

  // Ends the stream with a negated code, nothing written to the caller's buffer.
  auto stop = [&](int32_t code) {
    cam.fast_running.store(0);
    const int32_t c = clean_up_transfer(cam);
    release_hold(cam);
    report(msg::kFastReadyError, cam.index, c != 0 ? c : -code);
    return done(-code);
  };
  const CapturePlan& plan = cam.stream_plan;
  const int32_t n = image_bytes(plan);
  if (n == 0 || size < n || image == nullptr) return stop(err::kBufferSize);
  // A frame that did not arrive is not delivered as one.
  if (const int32_t missing = cam.frame_result.load(); missing != 0) return stop(missing);

  const int32_t current = cam.buffer_selector.load();
  if (go_on != 0) {
    cam.buffer_selector.store(1 - current);
    if (!start_frame_worker(cam)) {
      // During a close the worker gets no pass; the close cleans the stream up.
      if (closing_requested()) return done(-err::kNoCamera);
      report(msg::kCreateThread, cam.index);
      return done(-err::kThread);
    }
  } else {
    cam.fast_running.store(0);
    const int32_t c = clean_up_transfer(cam);
    if (c != 0) report(msg::kFastReadyErrorNoIndex, c);
  }
  uint8_t* frame = cam.frame_buffer[current == 0 ? 0 : 1];
  std::shared_lock<std::shared_mutex> stores(cam.settings_lock);  // a restore waits
  const int32_t processed =
      process_frame(plan, frame, device::frame_buffer_bytes(cam), image, chain_inputs(cam));
  stores.unlock();
  if (go_on == 0) release_hold(cam);  // the last frame is out: the stream has ended
  return done(processed != 0 ? -err::kNoMemory : 1);
}

int32_t abort_fast_acquisition(CameraRecord& cam) {
  if (!claim_abort(cam, kNoAbort)) {
    // An abort that could not cancel its frame is tried again; one under way is not.
    if (claim_abort(cam, kAbortUnfinished)) return finish_abort(cam);
    return err::kAborted;
  }
  while (cam.fast_wait.load() != 0) platform::sleep_ms(kAbortPollMs);
  if (cam.fast_running.load() == 0) {
    cam.abort.store(kNoAbort);
    return err::kThread;
  }
  cam.fast_running.store(0);
  return finish_abort(cam);
}

}  // namespace ucap::flow
