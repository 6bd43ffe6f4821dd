// The virtual camera's driver surface: what a platform layer calls where a real
// system would call SetupDi*, CreateFileA, DeviceIoControl, GetOverlappedResult,
// CancelIo and CloseHandle on the camera's 1394 driver.
//
// Every call reports failure as false (or kInvalidHandle / nullptr) and stores a
// Win32 error code in *err. The driver decodes the exact request records of the
// control codes below and refuses malformed ones as a real driver would.
#pragma once

#include <atomic>
#include <cstdint>

namespace vcam {

// Win32 error codes the driver reports.
inline constexpr uint32_t kErrFileNotFound = 2;     // ERROR_FILE_NOT_FOUND
inline constexpr uint32_t kErrInvalidHandle = 6;    // ERROR_INVALID_HANDLE
inline constexpr uint32_t kErrNotEnoughMemory = 8;  // ERROR_NOT_ENOUGH_MEMORY
inline constexpr uint32_t kErrInvalidFunction = 1;  // ERROR_INVALID_FUNCTION (unknown control code)
inline constexpr uint32_t kErrGenFailure = 31;      // ERROR_GEN_FAILURE
inline constexpr uint32_t kErrInvalidParameter = 87;      // ERROR_INVALID_PARAMETER
inline constexpr uint32_t kErrSemTimeout = 121;           // ERROR_SEM_TIMEOUT
inline constexpr uint32_t kErrInsufficientBuffer = 122;   // ERROR_INSUFFICIENT_BUFFER
inline constexpr uint32_t kErrNoMoreItems = 259;          // ERROR_NO_MORE_ITEMS
inline constexpr uint32_t kErrOperationAborted = 995;     // ERROR_OPERATION_ABORTED
inline constexpr uint32_t kErrIoPending = 997;            // ERROR_IO_PENDING
inline constexpr uint32_t kErrDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr uint32_t kErrInvalidUserBuffer = 1784;   // ERROR_INVALID_USER_BUFFER
inline constexpr uint32_t kErrNoSystemResources = 1450;   // ERROR_NO_SYSTEM_RESOURCES

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

// ---- device-interface enumeration (SetupDi* shape) ----------------------------
struct DeviceSet;  // snapshot of the interfaces of one class present at open time

// SetupDiGetClassDevsA(guid, nullptr, nullptr, flags). guid: 16 bytes as stored in memory.
DeviceSet* open_set(const uint8_t guid[16], uint32_t flags, uint32_t* err);
// SetupDiEnumDeviceInterfaces: `data` is a 32-byte SP_DEVICE_INTERFACE_DATA whose
// first u32 (cbSize) must be 32. False with kErrNoMoreItems past the end.
bool enum_interface(DeviceSet* set, uint32_t index, void* data, uint32_t* err);
// SetupDiGetDeviceInterfaceDetailA: `data` as filled by enum_interface; `detail` is an
// SP_DEVICE_INTERFACE_DETAIL_DATA_A (u32 cbSize, which must be 8, then the path) of
// `detail_size` bytes, or null with size 0 to learn the size. *required receives
// 4 + path length + 1. Too small: false, kErrInsufficientBuffer.
bool interface_detail(DeviceSet* set, const void* data, void* detail, uint32_t detail_size,
                      uint32_t* required, uint32_t* err);
void destroy_set(DeviceSet* set);

// ---- files and I/O control --------------------------------------------------
// CreateFileA(path, GENERIC_READ|GENERIC_WRITE, FILE_SHARE_READ|FILE_SHARE_WRITE,
// nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr).
Handle open(const char* path, bool overlapped, uint32_t* err);
bool close(Handle h, uint32_t* err);

// Synchronous DeviceIoControl on a handle opened without overlapped completion.
bool ioctl(Handle h, uint32_t code, const void* in, uint32_t in_len, void* out, uint32_t out_len,
           uint32_t* returned, uint32_t* err);

// Completion record of an overlapped request. The caller owns it and keeps it alive
// until the request has completed (or was cancelled and completed). When the request
// completes the driver stores the result and calls signal(ctx) (the caller's event).
struct Overlapped {
  std::atomic<uint32_t> status{kErrIoPending};  // kErrIoPending while pending, then 0 or a code
  std::atomic<uint32_t> bytes{0};
  void (*signal)(void* ctx) = nullptr;
  void* ctx = nullptr;
};

// Overlapped DeviceIoControl on a handle opened with overlapped completion. Returns
// true when it completed at once; false with kErrIoPending when it is pending; false
// with another code when refused.
bool ioctl_overlapped(Handle h, uint32_t code, const void* in, uint32_t in_len, void* out,
                      uint32_t out_len, Overlapped* ov, uint32_t* err);
// CancelIo: completes every pending overlapped request of this handle with
// kErrOperationAborted.
bool cancel_io(Handle h, uint32_t* err);

}  // namespace vcam
