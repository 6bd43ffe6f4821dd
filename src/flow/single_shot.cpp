#include "flow/single_shot.h"

#include <algorithm>

#include "core/errors.h"
#include "core/reporter.h"
#include "core/state.h"
#include "flow/closing.h"
#include "flow/frame_worker.h"
#include "flow/image_size.h"
#include "flow/processing.h"
#include "platform/platform.h"
#include "settings/geometry.h"

namespace ucap::flow {

namespace {

constexpr uint32_t kProgressPeriodMs = 50;
constexpr uint32_t kFramePollMs = 5;
constexpr int32_t kShotCancelAboveUs = 2000000;  // a shot cancels exposures over 2 s
constexpr int32_t kProgressPhase = 2;

int32_t failed(int32_t index, int32_t code) {
  report(msg::kAcquisitionError, index, code);
  return code;
}

}  // namespace

void WatchExposure(CameraRecord& cam, Progress progress) {
  if (progress == Progress::kNone || cam.busy.load() == 0) return;
  const int32_t exposure_ms = cam.exposure / 1000;
  const int32_t total = std::max(1, exposure_ms);
  // A triggered frame has no time-out and waits for the pulse however short the exposure.
  const bool cancellable = cam.exposure > kShotCancelAboveUs || cam.hardware_trigger != 0;
  int32_t elapsed = 0;
  while (true) {
    const int32_t r = call_progress(cam, progress, elapsed, total, kProgressPhase);
    cam.abort.store(r);
    elapsed = std::min(exposure_ms, elapsed + static_cast<int32_t>(kProgressPeriodMs));
    if (r != 0 && cancellable) {
      cancel_exposure(cam);
      return;
    }
    if (closing_requested()) {
      cam.abort.store(1);
      cancel_exposure(cam);
      return;
    }
    platform::sleep_ms(kProgressPeriodMs);
    if (cam.busy.load() == 0) return;
  }
}

namespace {

// The shot itself, for a caller that holds the camera's settings.
int32_t shoot(int32_t index, uint16_t* image, int32_t size, Progress progress) {
  CameraRecord& cam = *camera(index);
  const int32_t n = ImageDataSize(index);
  if (n == 0 || size < n || image == nullptr) return failed(index, err::kBufferSize);
  if (acquisition_running(cam)) return failed(index, err::kBusy);
  if (!combination_allowed(cam)) return failed(index, err::kArgument);

  int32_t c = set_up_transfer(cam, 1);
  if (c != 0) return failed(index, c);
  if (!transfer_makes(cam, n)) {
    clean_up_transfer(cam);
    return failed(index, err::kArgument);
  }

  cam.abort.store(0);
  cam.buffer_selector.store(0);
  if (!start_frame_worker(cam)) {
    // During a close the worker gets no pass: the camera is going away, no thread failed.
    if (closing_requested()) {
      clean_up_transfer(cam);
      return err::kNoCamera;
    }
    report(msg::kCreateThread, index);
    clean_up_transfer(cam);
    return err::kThread;
  }
  WatchExposure(cam, progress);
  bool cancelled = false;
  wait_for_frame(cam, kFramePollMs, &cancelled);
  if (cancelled) cam.abort.store(1);

  c = clean_up_transfer(cam);
  if (cam.abort.load() != 0) {
    cam.abort.store(0);
    return err::kAborted;
  }
  // A frame that did not arrive explains a failing clean-up too (an unplugged camera).
  if (const int32_t missing = cam.frame_result.load(); missing != 0) return failed(index, missing);
  if (c != 0) return failed(index, c);
  return process_frame(cam, cam.frame_buffer[0], image, Pipeline::kSingleShot);
}

}  // namespace

int32_t DoAcquisition(int32_t index, uint16_t* image, int32_t size, Progress progress) {
  const Hold hold(*camera(index), kHeldByAcquisition);
  if (!hold) return failed(index, err::kBusy);
  return shoot(index, image, size, progress);
}

int32_t getfullframe(int32_t index, uint16_t* buffer, int32_t ticks, Progress progress) {
  CameraRecord& cam = *camera(index);
  int32_t r = err::kBusy;
  if (!acquisition_running(cam)) {
    struct Saved {
      int32_t resolution, bits_per_pixel, binning, exposure;
      int32_t black_switch, white_switch, black_present;
      Rect frame, image;
    };
    const Saved saved{cam.resolution,       cam.bits_per_pixel,    cam.binning,
                      cam.exposure,         cam.black_ref_switch,  cam.white_ref_switch,
                      cam.black_ref_present, cam.frame_rect,       cam.image_rect};
    cam.resolution = 3;
    cam.binning = 1;
    cam.exposure = ticks * 250;
    cam.black_ref_present = 0;
    cam.black_ref_switch = 0;
    cam.white_ref_switch = 0;
    cam.bits_per_pixel = kBitsMono;
    store_frame(cam, nullptr);
    const int64_t sensor_bytes = int64_t{cam.sensor_width} * cam.sensor_height * 2;
    r = shoot(index, buffer, static_cast<int32_t>(sensor_bytes), progress);
    cam.resolution = saved.resolution;
    cam.bits_per_pixel = saved.bits_per_pixel;
    cam.binning = saved.binning;
    cam.exposure = saved.exposure;
    cam.black_ref_switch = saved.black_switch;
    cam.white_ref_switch = saved.white_switch;
    cam.black_ref_present = saved.black_present;
    store_frame(cam, &saved.frame);
    // Restoring the frame alone would re-align the image rectangle to multiples of 4b.
    cam.image_rect = saved.image;
  }
  cam.reference_frame_mode.store(0);
  if (r != 0) report(msg::kGetFullFrameError, index, r);
  return r;
}

}  // namespace ucap::flow
