#include "device/transport.h"

#include "core/errors.h"
#include "core/reporter.h"
#include "device/bytes.h"
#include "device/requests.h"

namespace ucap::device {

namespace {

constexpr uint32_t kSpeedCode = 4;
constexpr uint32_t kResourceFlags = 9;
constexpr uint32_t kAnyChannel = 0xFFFFFFFF;
constexpr uint32_t kOneBuffer = 1;
constexpr uint32_t kTwoBuffers = 2;

// A driver request the driver failed, with or without a last-error code.
bool refused(CameraRecord& cam, uint32_t code, uint8_t* record, uint32_t length, bool has_output) {
  return driver_request(cam.device, code, record, length, has_output ? length : 0) != 0;
}

uint32_t frame_bytes(const CameraRecord& cam) { return cam.bytes_per_packet * cam.packets_per_frame; }

// Frees what a 64-bit driver handle names. The handle is spent once freed; one the driver
// refused to free is kept, and the next set-up or the close frees it (give_back_leftovers).
int32_t free_handle(CameraRecord& cam, uint32_t ioctl, uint64_t& handle, int32_t code) {
  uint8_t r[8] = {};
  put_u64(r, handle);
  if (refused(cam, ioctl, r, sizeof r, false)) return code;
  handle = 0;
  return 0;
}

int32_t free_bandwidth(CameraRecord& cam) {
  return free_handle(cam, kIoctlFreeBandwidth, cam.bandwidth_handle, err::kBandwidth);
}

int32_t free_resources(CameraRecord& cam) {
  return free_handle(cam, kIoctlFreeResources, cam.resource_handle, err::kResources);
}

int32_t free_channel(CameraRecord& cam) {
  uint8_t r[4] = {};
  put_u32(r, cam.channel);
  if (refused(cam, kIoctlFreeChannel, r, sizeof r, false)) return err::kChannel;
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

// Steps 5 to 9 without the release: the vendor registers of mode m.
int32_t write_mode_registers(CameraRecord& cam, uint32_t m, const Rect& rect, int32_t b,
                             int32_t ticks, int32_t single_shot) {
  const uint32_t position = (static_cast<uint32_t>(rect.left) << 16) + static_cast<uint32_t>(rect.top);
  const uint32_t size = (static_cast<uint32_t>(rect.right - rect.left) << 16) +
                        static_cast<uint32_t>(rect.bottom - rect.top);
  const uint32_t binning =
      (m == 0 ? kBinningModeZero : kBinningOtherModes) + (static_cast<uint32_t>(b) << kBinningShift);
  if (quadlet_write(cam, vendor_mode(cam, kVendorBinning, m), binning) != 0) return err::kSetupBinning;
  if (quadlet_write(cam, vendor_mode(cam, kVendorModePosition, m), position) != 0) return err::kSetupPosition;
  if (quadlet_write(cam, vendor_mode(cam, kVendorModeSize, m), size) != 0) return err::kSetupSize;
  uint32_t control = 0;
  if (quadlet_read(cam, vendor(cam, kVendorCaptureControl), &control) != 0) return err::kRead;
  control = single_shot ? (control & ~kContinuousCapture) : (control | kContinuousCapture);
  if (quadlet_write(cam, vendor(cam, kVendorCaptureControl), control) != 0) return err::kSetupCaptureControl;
  if (quadlet_write(cam, vendor(cam, kVendorExposureHigh), static_cast<uint32_t>(ticks >> 12)) != 0)
    return err::kSetupExposureHigh;
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

}  // namespace

int32_t capture_setup(CameraRecord& cam, int32_t mode, const Rect& rect, int32_t binning,
                      int32_t ticks, int32_t single_shot) {
  if (mode < 0 || mode > 7 || !rectangle_fits(cam, rect, binning)) return err::kArgument;
  give_back_leftovers(cam);  // still refused: the new transfer may get its own all the same
  const uint32_t m = static_cast<uint32_t>(mode);
  const ModeEntry& entry = cam.modes[m];

  // Capture wait set-up. The kind is stored as it is: its bytes are the bus-order data of
  // the quadlet the driver writes to start each frame.
  {
    uint8_t r[20] = {};
    const bool trigger = cam.hardware_trigger != 0;
    put_u32(r + 0, trigger ? kWaitTrigger + (cam.trigger_polarity != 0 ? 1u : 0u) : kWaitOneShot);
    put_u32(r + 4, trigger ? 0u : static_cast<uint32_t>(ticks / 3 + 3000));
    put_u16(r + 8, node_address(cam));
    put_u16(r + 12, kAddressHigh);
    put_u32(r + 16, command(cam, trigger ? kCmdTrigger : kCmdOneShot));
    if (refused(cam, kIoctlCaptureWaitSetup, r, sizeof r, false)) return err::kCaptureWait;
  }

  int32_t c = program_mode(cam, m, rect, binning, ticks, single_shot);
  if (c != 0) return c;

  const bool packed = entry.packing_supported == 1 && cam.packing != 0;
  if (quadlet_write(cam, entry.block_address + kModeColorCoding,
                    packed ? kColorCodingPacked : kColorCodingUnpacked) != 0)
    return err::kSetupColorCoding;
  if (quadlet_write(cam, entry.block_address + kModeApply, kApplyGo) != 0) return err::kSetupApply;
  c = poll_command(cam, entry.block_address + kModeApply, kApplySettingsPoll);
  if (c != 0) return c;
  if (quadlet_write(cam, command(cam, kCmdCurrentFormat), kScalableFormat) != 0) return err::kSetupFormat;
  if (quadlet_write(cam, command(cam, kCmdCurrentMode), m << kCurrentModeShift) != 0) return err::kSetupMode;

  uint32_t v = 0;
  if (quadlet_read(cam, entry.block_address + kModeBytesPerPacket, &v) != 0) return err::kRead;
  cam.bytes_per_packet = v >> 16;
  if (quadlet_read(cam, entry.block_address + kModePacketsPerFrame, &v) != 0) return err::kRead;
  cam.packets_per_frame = v;
  // The frame lands in a driver buffer of the full sensor at two bytes per pixel plus the
  // slack; a camera announcing more than that is not believed.
  const uint64_t announced = uint64_t{cam.bytes_per_packet} * cam.packets_per_frame;
  if (announced == 0 || announced > frame_buffer_bytes(cam)) return err::kArgument;

  {
    uint8_t r[24] = {};
    put_u32(r + 0, cam.bytes_per_packet);
    put_u32(r + 4, kSpeedCode);
    if (refused(cam, kIoctlAllocBandwidth, r, sizeof r, true)) return err::kBandwidth;
    cam.bandwidth_handle = get_u64(r + 8);
  }
  // From here on a failing step gives back what was taken (the transfer-active flag is
  // still 0, so no clean-up would).
  bool have_channel = false;
  auto give_back = [&](int32_t code) {
    if (have_channel) free_channel(cam);
    free_bandwidth(cam);
    return code;
  };
  {
    uint8_t r[16] = {};
    put_u32(r + 0, kAnyChannel);
    if (refused(cam, kIoctlAllocChannel, r, sizeof r, true)) return give_back(err::kChannel);
    cam.channel = get_u32(r + 4);
    cam.channel_held = 1;
    have_channel = true;
  }
  if (quadlet_write(cam, command(cam, kCmdChannel), (cam.channel << kChannelShift) + kIsoSpeedS400) != 0)
    return give_back(err::kSetupChannel);
  if (quadlet_write(cam, command(cam, kCmdShutter),
                    kShutterOn + (static_cast<uint32_t>(ticks) & kShutterTicksMask)) != 0)
    return give_back(err::kSetupShutter);
  {
    const uint32_t bytes = frame_bytes(cam);
    const bool split = bytes > kSplitFrameBytes;
    uint8_t r[40] = {};
    put_u32(r + 0, kSpeedCode);
    put_u32(r + 4, kResourceFlags);
    put_u32(r + 8, cam.channel);
    put_u32(r + 12, cam.bytes_per_packet);
    put_u32(r + 16, split ? kTwoBuffers : kOneBuffer);
    put_u32(r + 20, split ? kSplitBufferBytes : bytes);
    put_u32(r + 24, 1);
    if (refused(cam, kIoctlAllocResources, r, sizeof r, true)) return give_back(err::kResources);
    cam.resource_handle = get_u64(r + 32);
  }
  uint32_t position = 0;
  uint32_t size = 0;
  if (quadlet_read(cam, entry.block_address + kModePosition, &position) != 0 ||
      quadlet_read(cam, entry.block_address + kModeSize, &size) != 0) {
    // The resources are given back too: nothing would free them later.
    free_resources(cam);
    return give_back(err::kRead);
  }
  // The stages process the transferred rectangle in place in the frame buffer: it must not
  // be larger than the sensor, whatever the camera reports.
  const int32_t width = static_cast<int32_t>(size >> 16);
  const int32_t rows = static_cast<int32_t>(size & 0xFFFF);
  if (width > cam.sensor_width || rows > cam.sensor_height) {
    free_resources(cam);
    return give_back(err::kArgument);
  }
  cam.transfer_active.store(1);
  const int32_t left = static_cast<int32_t>(position >> 16);
  const int32_t top = static_cast<int32_t>(position & 0xFFFF);
  cam.transferred = Rect{left, top, left + width, top + rows};
  return 0;
}

int32_t hand_over(CameraRecord& cam, const uint8_t* buffer) {
  if (cam.transfer_active.load() == 0) {
    report(msg::kGetBufferError);
    return 0;
  }
  {
    uint8_t r[4] = {};
    put_u32(r, buffer == cam.frame_buffer[0] ? 0u : 1u);
    if (refused(cam, kIoctlBufferSelect, r, sizeof r, false)) return err::kFrameBuffer;
  }
  const uint32_t bytes = frame_bytes(cam);
  // Resource handle, frame bytes and bytes per packet; the other words are fixed values.
  uint8_t r[64] = {};
  put_u64(r + 0, cam.resource_handle);
  put_u32(r + 8, 1);
  put_u32(r + 12, bytes);
  put_u64(r + 16, 0);
  put_u32(r + 24, 1);
  put_u32(r + 28, bytes);
  put_u32(r + 32, cam.bytes_per_packet);
  put_u32(r + 36, 1);
  put_u32(r + 40, 0);
  put_u32(r + 44, 0);
  put_u32(r + 48, 1);
  put_u32(r + 52, 1);
  if (refused(cam, kIoctlAttachBuffers, r, sizeof r, false)) return err::kFrameBuffer;
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
  {
    uint8_t r[16] = {};
    put_u64(r, cam.resource_handle);
    if (refused(cam, kIoctlStopTransfer, r, sizeof r, false)) return err::kStop;
  }
  if (cam.transfer_active.load() == 0) {
    report(msg::kCleanupError);
    return 0;
  }
  cam.transfer_active.store(0);
  // Every resource is given back even when an earlier one is refused; the first refusal
  // names the result, and what was refused is tried again by the next set-up or the close.
  const int32_t result = give_back_leftovers(cam);
  if (result != 0) return result;
  if (cam.hardware_trigger != 0 && quadlet_write(cam, command(cam, kCmdTrigger), kTriggerOff) != 0)
    return err::kSetupShutter;  // the trigger reset shares code 1042
  return 0;
}

}  // namespace ucap::device
