#include "device/transport.h"

#include "core/errors.h"
#include "core/reporter.h"
#include "device/requests.h"

namespace ucap::device {

namespace {

uint32_t frame_bytes(const CameraRecord& cam) {
  return cam.bytes_per_packet * cam.packets_per_frame;
}

// Frees what a 64-bit driver handle names. The handle is spent once freed; one the driver
// refused to free is kept, and the next set-up or the close frees it (give_back_leftovers).
int32_t free_handle(CameraRecord& cam, uint32_t (*request)(CameraRecord&, uint64_t),
                    uint64_t& handle, int32_t code) {
  if (request(cam, handle) != 0) return code;
  handle = 0;
  return 0;
}

int32_t free_bandwidth(CameraRecord& cam) {
  return free_handle(cam, request_free_bandwidth, cam.bandwidth_handle, err::kBandwidth);
}

int32_t free_resources(CameraRecord& cam) {
  return free_handle(cam, request_free_resources, cam.resource_handle, err::kResources);
}

int32_t free_channel(CameraRecord& cam) {
  if (request_free_channel(cam, cam.channel) != 0) return err::kChannel;
  cam.channel_held = 0;
  return 0;
}

bool rectangle_fits(const CameraRecord& cam, const Rect& r, int32_t b) {
  const int32_t g = 2 * b;
  if (b < 1) return false;
  if (r.left % g != 0 || r.top % g != 0 || r.right % g != 0 || r.bottom % g != 0) return false;
  if (r.bottom - r.top < 16 * b || r.right - r.left < 16 * b) return false;
  if (r.left < 0 || r.top < 0) return false;
  return r.bottom <= cam.sensor_height && r.right <= cam.sensor_width;
}

// Step 2: the capture wait. With the hardware trigger the driver waits without limit for
// the trigger register; otherwise for the one-shot register, ticks / 3 + 3000 ms at most.
int32_t set_up_capture_wait(CameraRecord& cam, int32_t ticks) {
  const bool trigger = cam.hardware_trigger != 0;
  const uint32_t kind =
      trigger ? kWaitTrigger + (cam.trigger_polarity != 0 ? 1u : 0u) : kWaitOneShot;
  const uint32_t timeout = trigger ? 0u : static_cast<uint32_t>(ticks / 3 + 3000);
  const uint32_t reg = command(cam, trigger ? kCmdTrigger : kCmdOneShot);
  return request_capture_wait(cam, kind, timeout, reg) != 0 ? err::kCaptureWait : 0;
}

// Steps 5 to 9 without the release: the vendor registers of mode m.
int32_t write_mode_registers(CameraRecord& cam, uint32_t m, const Rect& rect, int32_t b,
                             int32_t ticks, int32_t single_shot) {
  // 3. The position and size words.
  const uint32_t position =
      (static_cast<uint32_t>(rect.left) << 16) + static_cast<uint32_t>(rect.top);
  const uint32_t size = (static_cast<uint32_t>(rect.right - rect.left) << 16) +
                        static_cast<uint32_t>(rect.bottom - rect.top);
  // 5. Binning; 6. position and size.
  const uint32_t binning = (m == 0 ? kBinningModeZero : kBinningOtherModes) +
                           (static_cast<uint32_t>(b) << kBinningShift);
  if (quadlet_write(cam, vendor_mode(cam, kVendorBinning, m), binning) != 0)
    return err::kSetupBinning;
  if (quadlet_write(cam, vendor_mode(cam, kVendorModePosition, m), position) != 0)
    return err::kSetupPosition;
  if (quadlet_write(cam, vendor_mode(cam, kVendorModeSize, m), size) != 0) return err::kSetupSize;
  // 7. Single shot or continuous capture.
  uint32_t control = 0;
  if (quadlet_read(cam, vendor(cam, kVendorCaptureControl), &control) != 0) return err::kRead;
  control = single_shot ? (control & ~kContinuousCapture) : (control | kContinuousCapture);
  if (quadlet_write(cam, vendor(cam, kVendorCaptureControl), control) != 0)
    return err::kSetupCaptureControl;
  // 8. The upper part of the exposure.
  if (quadlet_write(cam, vendor(cam, kVendorExposureHigh), static_cast<uint32_t>(ticks >> 12)) != 0)
    return err::kSetupExposureHigh;
  // 9. Apply the mode.
  const uint32_t apply = vendor_mode(cam, kVendorModeApply, m);
  if (quadlet_write(cam, apply, kApplyGo) != 0) return err::kRead;
  if (poll_command(cam, apply, kModeApplyPoll) != 0) return err::kRead;
  return 0;
}

// Steps 4 to 9: the vendor-register part of the set-up, under vendor access.
int32_t program_mode(CameraRecord& cam, uint32_t m, const Rect& rect, int32_t b, int32_t ticks,
                     int32_t single_shot) {
  VendorAccess access(cam);
  if (!access.is_open()) return err::kSetupVendorAccess;
  const int32_t c = write_mode_registers(cam, m, rect, b, ticks, single_shot);
  // A failed step returns with access still open, as the set-up's steps have it: only a
  // completed mode apply releases it; the camera's access time-out ends it otherwise.
  if (c != 0) access.leave_open();
  return c;
}

// Steps 10 to 12: transfer format, apply settings, the scalable format and mode m.
int32_t select_mode(CameraRecord& cam, uint32_t m) {
  const ModeEntry& entry = cam.modes[m];
  const bool packed = entry.packing_supported == 1 && cam.packing != 0;
  if (quadlet_write(cam, entry.block_address + kModeColorCoding,
                    packed ? kColorCodingPacked : kColorCodingUnpacked) != 0)
    return err::kSetupColorCoding;
  if (quadlet_write(cam, entry.block_address + kModeApply, kApplyGo) != 0) return err::kSetupApply;
  const int32_t c = poll_command(cam, entry.block_address + kModeApply, kApplySettingsPoll);
  if (c != 0) return c;
  if (quadlet_write(cam, command(cam, kCmdCurrentFormat), kScalableFormat) != 0)
    return err::kSetupFormat;
  if (quadlet_write(cam, command(cam, kCmdCurrentMode), m << kCurrentModeShift) != 0)
    return err::kSetupMode;
  return 0;
}

// Step 13: bytes per packet and packets per frame, as mode m announces them.
int32_t read_transfer_shape(CameraRecord& cam, const ModeEntry& entry) {
  uint32_t v = 0;
  if (quadlet_read(cam, entry.block_address + kModeBytesPerPacket, &v) != 0) return err::kRead;
  cam.bytes_per_packet = v >> 16;
  if (quadlet_read(cam, entry.block_address + kModePacketsPerFrame, &v) != 0) return err::kRead;
  cam.packets_per_frame = v;
  // The frame lands in a driver buffer of the full sensor at two bytes per pixel plus the
  // slack; a camera announcing more than that is not believed.
  const uint64_t announced = uint64_t{cam.bytes_per_packet} * cam.packets_per_frame;
  if (announced == 0 || announced > frame_buffer_bytes(cam)) return err::kArgument;
  return 0;
}

// Steps 14 to 16 once bandwidth is held: the channel, its register and the shutter, the
// resources. A failing step gives back what was taken (the transfer-active flag is still 0,
// so no clean-up would).
int32_t reserve_transfer(CameraRecord& cam, int32_t ticks) {
  if (request_alloc_channel(cam, &cam.channel) != 0) {
    free_bandwidth(cam);
    return err::kChannel;
  }
  cam.channel_held = 1;
  auto give_back = [&cam](int32_t code) {
    free_channel(cam);
    free_bandwidth(cam);
    return code;
  };
  if (quadlet_write(cam, command(cam, kCmdChannel),
                    (cam.channel << kChannelShift) + kIsoSpeedS400) != 0)
    return give_back(err::kSetupChannel);
  if (quadlet_write(cam, command(cam, kCmdShutter),
                    kShutterOn + (static_cast<uint32_t>(ticks) & kShutterTicksMask)) != 0)
    return give_back(err::kSetupShutter);
  if (request_alloc_resources(cam, cam.channel, cam.bytes_per_packet, frame_bytes(cam),
                              &cam.resource_handle) != 0)
    return give_back(err::kResources);
  return 0;
}

// Step 17: the rectangle the camera transfers. The stages process it in place in the frame
// buffer: it must not be larger than the sensor, whatever the camera reports.
int32_t read_transferred(CameraRecord& cam, const ModeEntry& entry, Rect* out) {
  uint32_t position = 0;
  uint32_t size = 0;
  if (quadlet_read(cam, entry.block_address + kModePosition, &position) != 0 ||
      quadlet_read(cam, entry.block_address + kModeSize, &size) != 0)
    return err::kRead;
  const int32_t width = static_cast<int32_t>(size >> 16);
  const int32_t rows = static_cast<int32_t>(size & 0xFFFF);
  if (width > cam.sensor_width || rows > cam.sensor_height) return err::kArgument;
  const int32_t left = static_cast<int32_t>(position >> 16);
  const int32_t top = static_cast<int32_t>(position & 0xFFFF);
  *out = Rect{left, top, left + width, top + rows};
  return 0;
}

}  // namespace

int32_t capture_setup(CameraRecord& cam, int32_t mode, const Rect& rect, int32_t binning,
                      int32_t ticks, int32_t single_shot) {
  // 1. The rectangle, before anything is sent.
  if (mode < 0 || mode > 7 || !rectangle_fits(cam, rect, binning)) return err::kArgument;
  give_back_leftovers(cam);  // still refused: the new transfer may get its own all the same
  const uint32_t m = static_cast<uint32_t>(mode);
  const ModeEntry& entry = cam.modes[m];
  // 2. The capture wait.
  int32_t c = set_up_capture_wait(cam, ticks);
  // 3. to 9. Mode m's vendor registers.
  if (c == 0) c = program_mode(cam, m, rect, binning, ticks, single_shot);
  // 10. to 12. Transfer format, apply settings, format and mode.
  if (c == 0) c = select_mode(cam, m);
  // 13. The transfer's shape.
  if (c == 0) c = read_transfer_shape(cam, entry);
  if (c != 0) return c;
  // 14. Bandwidth; then a channel, 15. its register and the shutter, 16. the resources.
  if (request_alloc_bandwidth(cam, cam.bytes_per_packet, &cam.bandwidth_handle) != 0)
    return err::kBandwidth;
  c = reserve_transfer(cam, ticks);
  if (c != 0) return c;
  // 17. The transferred rectangle; the resources are given back too when it fails: nothing
  // would free them later.
  Rect transferred{};
  c = read_transferred(cam, entry, &transferred);
  if (c != 0) {
    free_resources(cam);
    free_channel(cam);
    free_bandwidth(cam);
    return c;
  }
  cam.transfer_active.store(1);
  cam.transferred = transferred;
  return 0;
}

int32_t hand_over(CameraRecord& cam, const uint8_t* buffer) {
  // 1. Nothing set up: report, and there is nothing to wait for.
  if (cam.transfer_active.load() == 0) {
    report(msg::kGetBufferError);
    return 0;
  }
  // 2. The buffer the frame goes to; 3. the frame.
  if (request_buffer_select(cam, buffer == cam.frame_buffer[0] ? 0u : 1u) != 0)
    return err::kFrameBuffer;
  if (request_attach_buffers(cam, cam.resource_handle, frame_bytes(cam), cam.bytes_per_packet) != 0)
    return err::kFrameBuffer;
  return 0;
}

int32_t give_back_leftovers(CameraRecord& cam) {
  int32_t result = 0;
  auto first = [&result](int32_t code) {
    if (result == 0) result = code;
  };
  if (cam.resource_handle != 0) first(free_resources(cam));
  if (cam.channel_held != 0) first(free_channel(cam));
  if (cam.bandwidth_handle != 0) first(free_bandwidth(cam));
  return result;
}

int32_t capture_cleanup(CameraRecord& cam) {
  // 1. Stop the transfer.
  if (request_stop_transfer(cam, cam.resource_handle) != 0) return err::kStop;
  // 2. Nothing set up: report.
  if (cam.transfer_active.load() == 0) {
    report(msg::kCleanupError);
    return 0;
  }
  // 3. Every resource is given back even when an earlier one is refused; the first refusal
  // names the result, and what was refused is tried again by the next set-up or the close.
  cam.transfer_active.store(0);
  const int32_t result = give_back_leftovers(cam);
  if (result != 0) return result;
  // 4. The trigger mode off.
  if (cam.hardware_trigger != 0 && quadlet_write(cam, command(cam, kCmdTrigger), kTriggerOff) != 0)
    return err::kSetupShutter;  // the trigger reset shares code 1042
  return 0;
}

}  // namespace ucap::device
