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

// Command register offsets.
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

// Mode register block offsets.
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

// Vendor register block offsets.
inline constexpr uint32_t kVendorAccess = 0x000;
inline constexpr uint32_t kVendorAccessTimeout = 0x004;
inline constexpr uint32_t kVendorStartFirmware = 0x008;
inline constexpr uint32_t kVendorWord3 = 0x00C;
inline constexpr uint32_t kVendorExposureHigh = 0x014;
inline constexpr uint32_t kVendorShutterControl = 0x01C;
inline constexpr uint32_t kVendorCaptureControl = 0x030;
inline constexpr uint32_t kVendorMemoryCommand = 0x070;
inline constexpr uint32_t kVendorDataWindow = 0x080;
inline constexpr uint32_t kVendorBinning = 0x104;      // + 32m
inline constexpr uint32_t kVendorOutputSize = 0x10C;   // + 32m
inline constexpr uint32_t kVendorModePosition = 0x110; // + 32m
inline constexpr uint32_t kVendorModeSize = 0x114;     // + 32m
inline constexpr uint32_t kVendorModeApply = 0x11C;    // + 32m
inline constexpr uint32_t kVendorAccessValue = 0x0007C2A5;
inline constexpr uint32_t kVendorRelease = 0xFFFFFFFF;
inline constexpr uint32_t kVendorAccessTimeoutValue = 0x00000FFF;

inline constexpr uint32_t kBlockBytes = 128;

uint32_t quadlet_read(CameraRecord& cam, uint32_t address, uint32_t* value);
uint32_t quadlet_write(CameraRecord& cam, uint32_t address, uint32_t value);
// Block read/write of 128 bytes; 7 when the request memory cannot be obtained.
uint32_t block_read(CameraRecord& cam, uint32_t address, uint8_t* data);
uint32_t block_write(CameraRecord& cam, uint32_t address, const uint8_t* data);
// Quadlet write of 0 on a separate handle opened on the same device (no retries of
// vendor access).
uint32_t cancel_write(CameraRecord& cam, platform::DeviceHandle handle, uint32_t address);

// Vendor access: the access value then the time-out word. Returns 0 or the failing
// write's code.
uint32_t vendor_open(CameraRecord& cam);
void vendor_release(CameraRecord& cam);

// Command polling. Returns 0, 20 when a poll read fails, 8 when the error bit is set.
// Memory command at vendor 0x070: busy bits 31/30, error bit 29 (releases vendor access
// before returning 8); sleeps 1 ms after every read.
int32_t poll_memory_command(CameraRecord& cam);
// Mode apply (vendor 0x11C + 32m): busy bit 30, error bit 23; sleeps only while busy.
int32_t poll_mode_apply(CameraRecord& cam, uint32_t address);
// Apply settings (mode block 0x07C): busy bit 30, error bit 23; sleeps after every read.
int32_t poll_apply_settings(CameraRecord& cam, uint32_t address);

// Frame buffer request: size 0 releases. Returns 0, or 7 when the driver refuses.
int32_t frame_buffer_request(CameraRecord& cam, uint32_t size, uint8_t** first,
                             uint8_t** second);
// Cancel capture wait on a handle; 0 or the Win32 code.
uint32_t cancel_capture_wait(platform::DeviceHandle handle);

// The node address the requests carry: bus number << 6 | node number.
inline uint16_t node_address(const CameraRecord& cam) {
  return static_cast<uint16_t>((cam.bus_number << 6) | (cam.node_number & 0x3F));
}

// Address helpers.
inline uint32_t command(const CameraRecord& cam, uint32_t offset) { return cam.command_base + offset; }
inline uint32_t vendor(const CameraRecord& cam, uint32_t offset) { return cam.vendor_base + offset; }

}  // namespace ucap::device
