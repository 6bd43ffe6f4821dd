#include "flow/frame_worker.h"

#include "core/errors.h"
#include "core/reporter.h"
#include "core/state.h"
#include "device/requests.h"
#include "device/transport.h"
#include "flow/closing.h"
#include "platform/platform.h"

namespace ucap::flow {

namespace {

constexpr uint32_t kWorkerStack = 10000;
constexpr uint32_t kCancelSettleMs = 50;

// Win32 codes with which the driver ends a frame wait that brought no frame.
constexpr uint32_t kWaitTimedOut = 121;  // ERROR_SEM_TIMEOUT
constexpr uint32_t kDeviceGone = 1167;   // ERROR_DEVICE_NOT_CONNECTED

// What a frame that did not arrive means to the application: a capture wait that ran out
// (a dropped frame, no trigger within the time-out) is 21, a camera that went away 3, any
// other refusal of the hand-over 24.
int32_t missing_frame_code(uint32_t driver_error) {
  if (driver_error == kWaitTimedOut) return err::kCaptureWait;
  if (driver_error == kDeviceGone) return err::kNoCamera;
  return err::kFrameBuffer;
}

// A transport step that failed because the camera has gone away means no camera, whichever
// step it was. The last error is cleared before the step, so an older one cannot count.
int32_t unless_gone(int32_t code) {
  return code != 0 && platform::last_error() == kDeviceGone ? err::kNoCamera : code;
}

}  // namespace

int32_t clean_up_transfer(CameraRecord& cam) {
  platform::Lock lock(cam.lock);
  platform::set_last_error(0);
  return unless_gone(device::capture_cleanup(cam));
}

int32_t set_up_transfer(CameraRecord& cam, CapturePlan& plan) {
  platform::Lock lock(cam.lock);
  platform::set_last_error(0);
  if (cam.transfer_active.load() > 0) {
    report(msg::kSetupError);
    const int32_t c = device::capture_cleanup(cam);
    if (c != 0) return unless_gone(c);
  }
  const int32_t single_shot = plan.pipeline == Pipeline::kStream ? 0 : 1;
  const int32_t c =
      device::capture_setup(cam, plan.mode(), plan.image, plan.binning, plan.ticks, single_shot);
  plan.transferred = cam.transferred;
  plan.packed_bytes = static_cast<uint64_t>(cam.bytes_per_packet) * cam.packets_per_frame;
  return unless_gone(c);
}

void give_back_leftovers(CameraRecord& cam) {
  platform::Lock lock(cam.lock);
  device::give_back_leftovers(cam);
}

uint32_t ReadFrameThread(void* record) {
  CameraRecord& cam = *static_cast<CameraRecord*>(record);
  cam.busy.store(1);
  int32_t result = 0;
  {
    platform::Lock lock(cam.lock);
    const uint8_t* buffer = cam.frame_buffer[cam.buffer_selector.load() == 0 ? 0 : 1];
    if (device::hand_over(cam, buffer) != 0) result = missing_frame_code(platform::last_error());
  }
  cam.frame_result.store(result);
  cam.busy.store(0);
  // The pass its export took for it: from here on the record may go away.
  state().gate.leave();
  return 0;
}

bool start_frame_worker(CameraRecord& cam) {
  // The worker keeps the camera table alive until its frame wait has ended, also when the
  // export that started it has returned (a stream between two calls).
  if (!state().gate.enter()) return false;
  cam.frame_result.store(0);
  cam.busy.store(1);
  platform::Thread* thread = platform::create_thread(&ReadFrameThread, &cam, kWorkerStack);
  if (thread == nullptr) {
    cam.busy.store(0);
    state().gate.leave();
    return false;
  }
  platform::set_priority_highest(thread);
  platform::close_thread(thread);
  return true;
}

bool cancel_exposure(CameraRecord& cam) {
  platform::DeviceHandle handle = platform::open_device(cam.device_path, false);
  if (!platform::device_valid(handle)) return false;
  device::cancel_write(cam, handle, device::command(cam, device::kCmdOneShot));
  platform::sleep_ms(kCancelSettleMs);
  if (cam.busy.load() != 0) device::cancel_capture_wait(handle);
  platform::close_device(handle);
  return true;
}

void wait_for_frame(CameraRecord& cam, uint32_t poll_ms, bool* cancelled) {
  while (cam.busy.load() != 0) {
    if (!*cancelled && closing_requested()) {
      *cancelled = true;
      cancel_exposure(cam);
    }
    platform::sleep_ms(poll_ms);
  }
}

}  // namespace ucap::flow
