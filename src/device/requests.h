// Requests to the camera's 1394 driver: asynchronous quadlet and block reads and writes
// of the camera's registers (with retries), vendor access, command polling, the frame
// buffer request and the capture-wait cancel. Each returns 0 or a Win32 error code
// unless said otherwise; callers map failures to their own codes.
#pragma once

#include <cstdint>

#include "core/record.h"
#include "platform/platform.h"

namespace ucap::device {

// I/O control codes of the driver.
inline constexpr uint32_t kIoctlRead = 0x222008;
inline constexpr uint32_t kIoctlWrite = 0x22200C;
inline constexpr uint32_t kIoctlAllocBandwidth = 0x222014;
inline constexpr uint32_t kIoctlAllocChannel = 0x222018;
inline constexpr uint32_t kIoctlAllocResources = 0x22201C;
inline constexpr uint32_t kIoctlAttachBuffers = 0x222020;
inline constexpr uint32_t kIoctlFreeBandwidth = 0x222028;
inline constexpr uint32_t kIoctlFreeChannel = 0x22202C;
inline constexpr uint32_t kIoctlFreeResources = 0x222030;
inline constexpr uint32_t kIoctlStopTransfer = 0x222044;
inline constexpr uint32_t kIoctlGetNodeAddress = 0x222050;
inline constexpr uint32_t kIoctlBusResetNotify = 0x2220C8;
inline constexpr uint32_t kIoctlCaptureWaitSetup = 0x2220F0;
inline constexpr uint32_t kIoctlCancelCaptureWait = 0x2220F4;
inline constexpr uint32_t kIoctlFrameBuffer = 0x222104;
inline constexpr uint32_t kIoctlBufferSelect = 0x222108;

// Fixed addresses of the configuration ROM.
inline constexpr uint32_t kRomUniqueIdLow = 0xF0000410;
inline constexpr uint32_t kRomRootEntry = 0xF0000424;
inline constexpr uint32_t kRomUnitDirectoryBase = 0xF0000430;

// Fields of the read/write record.
inline constexpr uint16_t kAddressHigh = 0xFFFF;  // upper 16 bits of every bus address

// Command register offsets, and the values written to them.
inline constexpr uint32_t kCmdInitialise = 0x000;
inline constexpr uint32_t kCmdModeInquiry = 0x19C;
inline constexpr uint32_t kCmdModeOffset = 0x2E0;  // + 4m
inline constexpr uint32_t kCmdVendorOffset = 0x480;
inline constexpr uint32_t kCmdCurrentMode = 0x604;
inline constexpr uint32_t kCmdCurrentFormat = 0x608;
inline constexpr uint32_t kCmdChannel = 0x60C;
inline constexpr uint32_t kCmdOneShot = 0x61C;
inline constexpr uint32_t kCmdShutter = 0x81C;
inline constexpr uint32_t kCmdTrigger = 0x830;
inline constexpr uint32_t kInitialiseCamera = 0x80000000;
inline constexpr uint32_t kCurrentModeShift = 29;  // m << 29
inline constexpr uint32_t kScalableFormat = 0xE0000000;
inline constexpr uint32_t kChannelShift = 28;  // channel << 28 | speed
inline constexpr uint32_t kIsoSpeedS400 = 0x02000000;
inline constexpr uint32_t kShutterOn = 0x02000000;  // | exposure ticks & kShutterTicksMask
inline constexpr uint32_t kShutterTicksMask = 0xFFF;
inline constexpr uint32_t kTriggerOff = 0;

// Mode register block offsets, and the values written to them.
inline constexpr uint32_t kModeMaxSize = 0x000;
inline constexpr uint32_t kModeUnitSize = 0x004;
inline constexpr uint32_t kModePosition = 0x008;
inline constexpr uint32_t kModeSize = 0x00C;
inline constexpr uint32_t kModeColorCoding = 0x010;
inline constexpr uint32_t kModeInquiry = 0x024;
inline constexpr uint32_t kModeTotalBytes = 0x03C;
inline constexpr uint32_t kModeBytesPerPacket = 0x044;
inline constexpr uint32_t kModePacketsPerFrame = 0x048;
inline constexpr uint32_t kModeUnitPosition = 0x04C;
inline constexpr uint32_t kModeApply = 0x07C;
inline constexpr uint32_t kColorCodingPacked = 0x85000000;
inline constexpr uint32_t kColorCodingUnpacked = 0x05000000;

// Vendor register block offsets, and the values written to them.
inline constexpr uint32_t kVendorAccess = 0x000;
inline constexpr uint32_t kVendorAccessTimeout = 0x004;
inline constexpr uint32_t kVendorStartFirmware = 0x008;
inline constexpr uint32_t kVendorWord3 = 0x00C;
inline constexpr uint32_t kVendorExposureHigh = 0x014;
inline constexpr uint32_t kVendorShutterControl = 0x01C;
inline constexpr uint32_t kVendorCaptureControl = 0x030;
inline constexpr uint32_t kVendorMemoryCommand = 0x070;
inline constexpr uint32_t kVendorDataWindow = 0x080;
inline constexpr uint32_t kVendorBinning = 0x104;       // + 32m
inline constexpr uint32_t kVendorOutputSize = 0x10C;    // + 32m
inline constexpr uint32_t kVendorModePosition = 0x110;  // + 32m
inline constexpr uint32_t kVendorModeSize = 0x114;      // + 32m
inline constexpr uint32_t kVendorModeApply = 0x11C;     // + 32m
inline constexpr uint32_t kVendorModeStride = 32;
inline constexpr uint32_t kVendorAccessValue = 0x0007C2A5;
inline constexpr uint32_t kVendorRelease = 0xFFFFFFFF;
inline constexpr uint32_t kVendorAccessTimeoutValue = 0x00000FFF;
inline constexpr uint32_t kStartFirmware = 0x40000000;
inline constexpr uint32_t kContinuousCapture = 1u << 24;  // capture control bit
inline constexpr uint32_t kBinningModeZero = 0x01000000;  // | binning << kBinningShift
inline constexpr uint32_t kBinningOtherModes = 0x010000C0;
inline constexpr uint32_t kBinningShift = 16;
// Memory command words: | the EEPROM offset, | the firmware memory offset (24 bits).
inline constexpr uint32_t kMemoryReadEeprom = 0x4801D000;
inline constexpr uint32_t kMemoryWriteFirmware = 0x88000000;
inline constexpr uint32_t kMemoryOffsetLimit = 1u << 24;

// The go word of the mode apply (vendor 0x11C + 32m) and apply settings (mode 0x07C).
inline constexpr uint32_t kApplyGo = 0x40000000;

inline constexpr uint32_t kBlockBytes = 128;

uint32_t quadlet_read(CameraRecord& cam, uint32_t address, uint32_t* value);
uint32_t quadlet_write(CameraRecord& cam, uint32_t address, uint32_t value);
// Block read/write of 128 bytes; 7 when the request memory cannot be obtained.
uint32_t block_read(CameraRecord& cam, uint32_t address, uint8_t* data);
uint32_t block_write(CameraRecord& cam, uint32_t address, const uint8_t* data);
// Quadlet write of 0 on a separate handle opened on the same device (no retries of
// vendor access).
uint32_t cancel_write(CameraRecord& cam, platform::DeviceHandle handle, uint32_t address);

// One synchronous driver request with `in_len` bytes of `record` in and `out_len` bytes
// of it out (null when both are 0). 0, or the platform's last-error code; a request the
// driver fails without a code is a failure all the same (ERROR_GEN_FAILURE).
uint32_t driver_request(platform::DeviceHandle handle, uint32_t code, uint8_t* record,
                        uint32_t in_len, uint32_t out_len);

// Vendor access for the length of a scope: the constructor opens it (the access value,
// then the time-out word) and the destructor releases it, unless it was released before
// or is left open on purpose. When the opening failed there is nothing to release.
class VendorAccess {
 public:
  explicit VendorAccess(CameraRecord& cam);
  ~VendorAccess();
  VendorAccess(const VendorAccess&) = delete;
  VendorAccess& operator=(const VendorAccess&) = delete;

  // 0 when access was opened, else the failing write's code.
  uint32_t result() const { return result_; }
  bool is_open() const { return held_; }
  CameraRecord& camera() const { return cam_; }
  // Releases access now; the destructor then has nothing left to do.
  void release();
  // The scope ends without a release (the caller says why).
  void leave_open() { held_ = false; }

 private:
  CameraRecord& cam_;
  uint32_t result_;
  bool held_;
};

// Polling a command register after its command was written: how the register shows
// that the command is still running or failed, and how the poll waits.
struct CommandPoll {
  uint32_t busy_bits;
  uint32_t error_bit;
  bool sleep_only_while_busy;  // else a 1 ms sleep follows every read
  uint32_t max_reads;          // a command still busy after this many reads has failed
};
// A camera whose command stays busy would otherwise hold its caller for good: two seconds
// and more of reads, twice what the slowest command of a working camera takes.
inline constexpr uint32_t kCommandPollReads = 2000;
// Memory command (vendor 0x070), mode apply (vendor 0x11C + 32m), apply settings (mode 0x07C).
inline constexpr CommandPoll kMemoryCommandPoll{3u << 30, 1u << 29, false, kCommandPollReads};
inline constexpr CommandPoll kModeApplyPoll{1u << 30, 1u << 23, true, kCommandPollReads};
inline constexpr CommandPoll kApplySettingsPoll{1u << 30, 1u << 23, false, kCommandPollReads};

// Reads `address` until the busy bits clear, sleeping 1 ms as `how` says. Returns 0,
// 20 when a read fails or the command is still busy after how.max_reads reads, 8 when the
// error bit is set.
int32_t poll_command(CameraRecord& cam, uint32_t address, const CommandPoll& how);
// The memory command's poll (kMemoryCommandPoll, with `max_reads`): as poll_command, and
// the error bit releases vendor access before 8 is returned.
int32_t poll_memory_command(VendorAccess& access, uint32_t max_reads = kCommandPollReads);

// Frame buffer request: size 0 releases. Returns 0, or 7 when the driver refuses.
int32_t frame_buffer_request(CameraRecord& cam, uint32_t size, uint8_t** first, uint8_t** second);
// Cancel capture wait on a handle; 0 or the Win32 code.
uint32_t cancel_capture_wait(platform::DeviceHandle handle);

// ---- the other requests, one function per control code ---------------------------------
// Each lays its record out (little-endian fields at the offsets given; the offsets not
// named stay 0), sends it on the camera's handle and takes what the driver writes back.
// 0, or the driver's failure (the platform's code; ERROR_GEN_FAILURE when it gave none).

// Get node address (8 bytes): 0 flags word; out: 4 u16 node address. The address, whatever
// the driver answered (0 when it wrote nothing).
uint16_t request_node_address(platform::DeviceHandle handle);

// Capture wait kinds.
inline constexpr uint32_t kWaitOneShot = 0x80;
inline constexpr uint32_t kWaitTrigger = 2;  // + 1 for a trigger polarity other than 0
// Capture wait set-up (20 bytes): 0 wait kind, 4 time-out in ms, 8 u16 node address,
// 12 u16 0xFFFF, 16 the register the driver writes to start each frame. The kind is stored
// as it is: its bytes are the bus-order data of that quadlet.
uint32_t request_capture_wait(CameraRecord& cam, uint32_t kind, uint32_t timeout_ms,
                              uint32_t register_address);

// Isochronous speed code of every request that carries one (S400).
inline constexpr uint32_t kSpeedCode = 4;
// Allocate bandwidth (24 bytes): 0 bytes per packet, 4 speed code; out: 8 u64 handle.
uint32_t request_alloc_bandwidth(CameraRecord& cam, uint32_t bytes_per_packet, uint64_t* handle);
// Allocate channel (16 bytes): 0 0xFFFFFFFF (any free channel); out: 4 the channel.
uint32_t request_alloc_channel(CameraRecord& cam, uint32_t* channel);

// Frame bytes above this travel in two buffers of kSplitBufferBytes.
inline constexpr uint32_t kSplitFrameBytes = 1024000;
inline constexpr uint32_t kSplitBufferBytes = 512000;
// Allocate resources (40 bytes): 0 speed code, 4 flags 9, 8 channel, 12 bytes per packet,
// 16 buffer count, 20 buffer size (one buffer of the frame bytes, or two of
// kSplitBufferBytes above kSplitFrameBytes), 24 1; out: 32 u64 resource handle.
uint32_t request_alloc_resources(CameraRecord& cam, uint32_t channel, uint32_t bytes_per_packet,
                                 uint32_t frame_bytes, uint64_t* handle);

// Buffer selection (4 bytes): 0 for the first frame buffer, 1 for the second.
uint32_t request_buffer_select(CameraRecord& cam, uint32_t second);
// Attach buffers (64 bytes): 0 u64 resource handle, 8 1, 12 frame bytes, 16 u64 0, 24 1,
// 28 frame bytes, 32 bytes per packet, 36 1, 40 0, 44 0, 48 1, 52 1. Returns when the frame
// is in the selected buffer or the wait has ended.
uint32_t request_attach_buffers(CameraRecord& cam, uint64_t resource, uint32_t frame_bytes,
                                uint32_t bytes_per_packet);

// Stop transfer (16 bytes): 0 u64 resource handle, 8 0.
uint32_t request_stop_transfer(CameraRecord& cam, uint64_t resource);
// Free resources and free bandwidth (8 bytes: the u64 handle); free channel (4 bytes: the
// channel).
uint32_t request_free_resources(CameraRecord& cam, uint64_t resource);
uint32_t request_free_bandwidth(CameraRecord& cam, uint64_t bandwidth);
uint32_t request_free_channel(CameraRecord& cam, uint32_t channel);

// The node address the requests carry: bus number << 6 | node number.
inline uint16_t node_address(const CameraRecord& cam) {
  return static_cast<uint16_t>((cam.bus_number << 6) | (cam.node_number & 0x3F));
}

// Address helpers.
inline uint32_t command(const CameraRecord& cam, uint32_t offset) {
  return cam.command_base + offset;
}
inline uint32_t vendor(const CameraRecord& cam, uint32_t offset) {
  return cam.vendor_base + offset;
}
// A register of mode m's group in the vendor block (kVendorBinning .. kVendorModeApply).
inline uint32_t vendor_mode(const CameraRecord& cam, uint32_t offset, uint32_t m) {
  return vendor(cam, offset + kVendorModeStride * m);
}

}  // namespace ucap::device
