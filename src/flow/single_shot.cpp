#include "flow/single_shot.h"

#include <algorithm>
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

constexpr uint32_t kProgressPeriodMs = 50;
constexpr uint32_t kFramePollMs = 5;
constexpr int32_t kShotCancelAboveUs = 2000000;  // a shot cancels exposures over 2 s
constexpr int32_t kProgressPhase = 2;

int32_t failed(const CameraRecord& cam, int32_t code) {
  report(msg::kAcquisitionError, cam.index, code);
  return code;
}

}  // namespace

bool WatchExposure(CameraRecord& cam, const CapturePlan& plan, Progress progress) {
  if (progress.none() || cam.busy.load() == 0) return false;
  const int32_t exposure_ms = plan.exposure / 1000;
  const int32_t total = std::max(1, exposure_ms);
  // A triggered frame has no time-out and waits for the pulse however short the exposure.
  const bool cancellable = plan.exposure > kShotCancelAboveUs || cam.hardware_trigger != 0;
  int32_t elapsed = 0;
  while (true) {
    const int32_t r = progress.call(elapsed, total, kProgressPhase);
    elapsed = std::min<int32_t>(exposure_ms, elapsed + kProgressPeriodMs);
    if (r != 0 && cancellable) {
      cancel_exposure(cam);
      return true;
    }
    if (closing_requested()) {
      cancel_exposure(cam);
      return true;
    }
    platform::sleep_ms(kProgressPeriodMs);
    if (cam.busy.load() == 0) return r != 0;
  }
}

namespace {

// The shot of `plan` into `image`, for a caller that holds the camera's settings.
int32_t shoot(CameraRecord& cam, CapturePlan plan, uint16_t* image, int32_t size,
              Progress progress) {
  const int32_t n = image_bytes(plan);
  if (n == 0 || size < n || image == nullptr) return failed(cam, err::kBufferSize);
  if (cam.busy.load() != 0) return failed(cam, err::kBusy);
  if (!combination_allowed(plan)) return failed(cam, err::kArgument);

  int32_t c = set_up_transfer(cam, plan);
  if (c != 0) return failed(cam, c);
  if (!transfer_makes(plan, cam.sensor_width, cam.sensor_height, n)) {
    clean_up_transfer(cam);
    return failed(cam, err::kArgument);
  }

  cam.buffer_selector.store(0);
  if (!start_frame_worker(cam)) {
    // During a close the worker gets no pass: the camera is going away, no thread failed.
    if (closing_requested()) {
      clean_up_transfer(cam);
      return err::kNoCamera;
    }
    report(msg::kCreateThread, cam.index);
    clean_up_transfer(cam);
    return err::kThread;
  }
  const bool stop_asked = WatchExposure(cam, plan, progress);
  bool cancelled = false;
  wait_for_frame(cam, kFramePollMs, &cancelled);

  c = clean_up_transfer(cam);
  if (stop_asked || cancelled) return err::kAborted;
  // A frame that did not arrive explains a failing clean-up too (an unplugged camera).
  if (const int32_t missing = cam.frame_result.load(); missing != 0) return failed(cam, missing);
  if (c != 0) return failed(cam, c);
  const std::shared_lock<std::shared_mutex> stores(cam.settings_lock);  // a restore waits
  return process_frame(plan, cam.frame_buffer[0], device::frame_buffer_bytes(cam), image,
                       chain_inputs(cam));
}

}  // namespace

int32_t DoAcquisition(CameraRecord& cam, uint16_t* image, int32_t size, Progress progress) {
  const Hold hold(cam, Acquisition::kShot);
  if (!hold) return failed(cam, err::kBusy);
  return shoot(cam, plan_of(cam, Pipeline::kSingleShot), image, size, progress);
}

int32_t getfullframe(CameraRecord& cam, uint16_t* buffer, int32_t ticks, Pipeline pipeline,
                     Progress progress) {
  int32_t r = err::kBusy;
  if (cam.busy.load() == 0) {
    const int64_t sensor_bytes = int64_t{cam.sensor_width} * cam.sensor_height * 2;
    r = shoot(cam, full_frame_plan(cam, ticks, pipeline), buffer,
              static_cast<int32_t>(sensor_bytes), progress);
  }
  if (r != 0) report(msg::kGetFullFrameError, cam.index, r);
  return r;
}

}  // namespace ucap::flow
