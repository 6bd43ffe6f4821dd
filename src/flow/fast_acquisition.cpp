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

// Steps of an abort once it has the stream (kAborting): cancel the pending frame of a long
// or triggered exposure (short ones are let arrive), wait for the worker, clean up. An
// abort that cannot open the device to cancel leaves the stream kAbortUnfinished: 4.
int32_t finish_abort(CameraRecord& cam) {
  if (cam.stream_plan.exposure > kStreamCancelAboveUs || cam.hardware_trigger != 0) {
    if (!cancel_exposure(cam)) {
      cam.acquisition.end_abort(false);
      return err::kAborted;
    }
  }
  bool cancelled = false;
  wait_for_frame(cam, kAbortPollMs, &cancelled);
  clean_up_transfer(cam);
  cam.acquisition.end_abort(true);
  return err::kOk;
}

}  // namespace

int32_t start_fast_acquisition(CameraRecord& cam) {
  const Acquisition s = cam.acquisition.now();
  if (s == Acquisition::kStream || s == Acquisition::kCheck || s == Acquisition::kAbortWaiting)
    return err::kBusy;
  if (cam.acquisition.resume_abort()) {
    const int32_t c = finish_abort(cam);
    if (c != 0) return c;
  }
  if (cam.busy.load() != 0) return err::kBusy;
  if (const Acquisition t = cam.acquisition.now();
      t == Acquisition::kAborting || t == Acquisition::kAbortUnfinished)
    return err::kAborted;  // an abort under way on another thread
  // The stream has the settings from here to its end (last frame, abort, a stop).
  Hold hold(cam, Acquisition::kStarting);
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
  if (!start_frame_worker(cam)) {
    if (closing_requested()) {  // no pass for the worker during a close
      clean_up_transfer(cam);
      return err::kNoCamera;
    }
    report(msg::kCreateThread, cam.index);
    clean_up_transfer(cam);
    return err::kFastThread;
  }
  hold.keep();
  cam.acquisition.stream_started();
  return err::kOk;
}

int32_t fast_acquisition_ready(CameraRecord& cam, uint16_t* image, int32_t size, int32_t go_on) {
  // An abort claims the stream first and then waits for a check under way to hand it over,
  // so the two can never both go on.
  if (Acquisition seen{}; !cam.acquisition.begin_check(&seen)) {
    const bool aborting = seen == Acquisition::kAborting || seen == Acquisition::kAbortWaiting ||
                          seen == Acquisition::kAbortUnfinished || seen == Acquisition::kCheck;
    return aborting ? 0 : -err::kThread;
  }
  if (cam.busy.load() != 0) {
    cam.acquisition.end_check(true);
    return 0;
  }

  // Ends the stream with a negated code, nothing written to the caller's buffer.
  auto stop = [&](int32_t code) {
    const int32_t c = clean_up_transfer(cam);
    cam.acquisition.end_check(false);
    report(msg::kFastReadyError, cam.index, c != 0 ? c : -code);
    return -code;
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
      // The stream stays, without a frame under way: the application aborts it (during a
      // close the worker gets no pass, and the close cleans the stream up).
      cam.acquisition.end_check(true);
      if (closing_requested()) return -err::kNoCamera;
      report(msg::kCreateThread, cam.index);
      return -err::kThread;
    }
  } else {
    const int32_t c = clean_up_transfer(cam);
    if (c != 0) report(msg::kFastReadyErrorNoIndex, c);
  }
  uint8_t* frame = cam.frame_buffer[current == 0 ? 0 : 1];
  std::shared_lock<std::shared_mutex> stores(cam.settings_lock);  // a restore waits
  const int32_t processed =
      process_frame(plan, frame, device::frame_buffer_bytes(cam), image, chain_inputs(cam));
  stores.unlock();
  cam.acquisition.end_check(go_on != 0);  // with go_on 0 the last frame is out: the stream ends
  return processed != 0 ? -err::kNoMemory : 1;
}

int32_t abort_fast_acquisition(CameraRecord& cam) {
  switch (cam.acquisition.claim_abort()) {
    case AbortClaim::kNoStream: return err::kThread;
    case AbortClaim::kUnderWay: return err::kAborted;
    case AbortClaim::kAfterCheck:
      while (cam.acquisition.now() == Acquisition::kAbortWaiting) platform::sleep_ms(kAbortPollMs);
      // The check may have ended the stream itself (its last frame, a stop).
      if (cam.acquisition.now() != Acquisition::kAborting) return err::kThread;
      return finish_abort(cam);
    case AbortClaim::kClaimed: return finish_abort(cam);
  }
  return err::kThread;
}

}  // namespace ucap::flow
