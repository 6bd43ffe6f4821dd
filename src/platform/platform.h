// The platform port: everything the library needs from the operating system.
// platform_win32.cpp implements it with kernel32/setupapi/user32, platform_posix.cpp with
// POSIX threads; on builds that carry the virtual camera, vcam_devices.cpp routes the device
// calls to its driver surface. message_hook.cpp holds the message hook of both layers;
// the failures that tests inject live in seams.cpp (test builds) and no_seams.cpp (product).
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace ucap::platform {

// ---- errors -------------------------------------------------------------------
inline constexpr uint32_t kErrorIoPending = 997;  // ERROR_IO_PENDING
// Last-error code of the calling thread (GetLastError).
uint32_t last_error();
void set_last_error(uint32_t code);

// ---- strings ----------------------------------------------------------------------
// lstrcmpA: <0, 0 or >0.
int compare_strings(const char* a, const char* b);

// ---- time -----------------------------------------------------------------------
void sleep_ms(uint32_t ms);

// ---- threads --------------------------------------------------------------------
using ThreadProc = uint32_t (*)(void* arg);
struct Thread;  // opaque thread handle
// CreateThread(nullptr, stack_size, proc, arg, 0, nullptr): started at once. Null on failure.
Thread* create_thread(ThreadProc proc, void* arg, uint32_t stack_size);
// SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST).
void set_priority_highest(Thread* thread);
// Waits without limit until the thread has ended.
void wait_thread(Thread* thread);
// CloseHandle on the thread: the thread runs on by itself.
void close_thread(Thread* thread);

// ---- events (manual or auto reset, CreateEventA with no name) ------------------
struct Event;
Event* create_event(bool manual_reset, bool initially_signalled);
void set_event(Event* event);
void reset_event(Event* event);
// WaitForSingleObject with a time-out in ms (UINT32_MAX: without limit); true when signalled.
bool wait_event(Event* event, uint32_t timeout_ms);
void close_event(Event* event);

// ---- critical section ------------------------------------------------------------
// Lives inside zero-filled records: init() before the first use, destroy() after the last.
class CriticalSection {
 public:
  void init();
  void destroy();
  void enter();
  void leave();

 private:
  alignas(16) unsigned char storage_[64];
};

class Lock {
 public:
  explicit Lock(CriticalSection& cs) : cs_(cs) { cs_.enter(); }
  ~Lock() { cs_.leave(); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

 private:
  CriticalSection& cs_;
};

// ---- memory -----------------------------------------------------------------------
// Zero-filled block from the global heap (GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT),
// locked while it is used). Empty on failure.
class WorkBuffer {
 public:
  WorkBuffer() = default;
  explicit WorkBuffer(size_t bytes);
  ~WorkBuffer();
  WorkBuffer(const WorkBuffer&) = delete;
  WorkBuffer& operator=(const WorkBuffer&) = delete;
  explicit operator bool() const { return data_ != nullptr; }
  template <typename T>
  T* as() const {
    return static_cast<T*>(data_);
  }
  size_t size() const { return size_; }

 private:
  void* handle_ = nullptr;
  void* data_ = nullptr;
  size_t size_ = 0;
};
// LocalAlloc(LPTR, bytes) / LocalFree.
void* local_alloc(size_t bytes);
void local_free(void* block);

// ---- reporter output -----------------------------------------------------------------
// wvsprintfA into `buf` (256 bytes; the formats used carry %d conversions only).
void format_message(char (&buf)[256], const char* format, va_list args);
// Shows one formatted report: debugger output and a task-modal message box on Windows;
// on other systems the installed hook, or one line on stderr.
void show_message(const char* text);
using MessageHook = void (*)(const char* text, void* context);
// Installs (or, with null, removes) a hook that receives each report instead of the
// default output.
void set_message_hook(MessageHook hook, void* context);

// ---- device interfaces (SetupDi*) --------------------------------------------------
struct Guid {
  uint8_t bytes[16];
};
struct DeviceInfoSet;
// SetupDiGetClassDevsA(guid, null, null, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE). Null on failure.
DeviceInfoSet* get_class_devs(const Guid& guid);
// SP_DEVICE_INTERFACE_DATA; the caller sets size to 32 before enumerating.
struct alignas(8) InterfaceData {
  uint32_t size;
  unsigned char rest[28];
};
bool enum_device_interface(DeviceInfoSet* set, const Guid& guid, uint32_t index,
                           InterfaceData* data);
// SetupDiGetDeviceInterfaceDetailA: detail is a SP_DEVICE_INTERFACE_DETAIL_DATA_A buffer
// (u32 size field, then the zero-terminated path) of detail_size bytes, or null.
bool get_interface_detail(DeviceInfoSet* set, InterfaceData* data, void* detail,
                          uint32_t detail_size, uint32_t* required);
void destroy_device_info_list(DeviceInfoSet* set);
// Offset of the path inside the detail record.
inline constexpr uint32_t kDetailPathOffset = 4;
inline constexpr uint32_t kDetailSizeField = 8;

// ---- device files and I/O control -------------------------------------------------
using DeviceHandle = void*;
inline DeviceHandle const kInvalidDevice =
    reinterpret_cast<DeviceHandle>(static_cast<intptr_t>(-1));
inline bool device_valid(DeviceHandle h) { return h != nullptr && h != kInvalidDevice; }
// CreateFileA(path, read|write, share read|write, OPEN_EXISTING, overlapped flag).
// kInvalidDevice on failure (last error set).
DeviceHandle open_device(const char* path, bool overlapped);
void close_device(DeviceHandle h);
// DeviceIoControl, synchronous. False on failure, with the last error set.
bool device_io_control(DeviceHandle h, uint32_t code, const void* in, uint32_t in_len, void* out,
                       uint32_t out_len, uint32_t* returned);

// An overlapped request record bound to an event (OVERLAPPED with hEvent).
struct Overlapped;
Overlapped* create_overlapped(Event* event);
void destroy_overlapped(Overlapped* ov);
// DeviceIoControl with the overlapped record: true when complete at once; false with the
// last error kErrorIoPending while pending; false otherwise.
bool device_io_control_overlapped(DeviceHandle h, uint32_t code, const void* in, uint32_t in_len,
                                  void* out, uint32_t out_len, Overlapped* ov);
// GetOverlappedResult(h, ov, &bytes, wait).
bool get_overlapped_result(DeviceHandle h, Overlapped* ov, uint32_t* bytes, bool wait);
// CancelIo.
bool cancel_io(DeviceHandle h);

}  // namespace ucap::platform
