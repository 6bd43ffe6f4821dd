// Windows implementation of the platform port: kernel32, setupapi and user32, called
// for real. The product build talks to the camera's 1394 driver through SetupDi*,
// CreateFileA and DeviceIoControl. The test build (UCAP_WITH_VCAM) routes only the
// device calls to the virtual camera instead (platform/vcam_devices.cpp); threads,
// events, critical sections, heaps and the reporter stay real Win32 in both.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: setupapi.h relies on its types.
#include <setupapi.h>

#include <cstddef>
#include <new>

#include "platform/internal.h"
#include "platform/platform.h"

namespace ucap::platform {

namespace {
HANDLE handle_of(Thread* t) { return reinterpret_cast<HANDLE>(t); }
HANDLE handle_of(Event* e) { return reinterpret_cast<HANDLE>(e); }
}  // namespace

static_assert(kErrorIoPending == ERROR_IO_PENDING);

// ---- errors, strings and time -------------------------------------------------------------------
uint32_t last_error() { return GetLastError(); }
void set_last_error(uint32_t code) { SetLastError(code); }
void sleep_ms(uint32_t ms) { Sleep(ms); }
int compare_strings(const char* a, const char* b) { return lstrcmpA(a, b); }

// ---- threads ---------------------------------------------------------------------------
// The thread handle itself is the Thread*. The start record carries the port's procedure
// to the WINAPI start routine and is freed by the new thread.
namespace {
struct ThreadStart {
  ThreadProc proc;
  void* arg;
};

DWORD WINAPI thread_start(LPVOID p) {
  ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  return start.proc(start.arg);
}
}  // namespace

Thread* create_thread(ThreadProc proc, void* arg, uint32_t stack_size) {
  if (detail::thread_creation_fails()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* start = new (std::nothrow) ThreadStart{proc, arg};
  if (start == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  HANDLE h = CreateThread(nullptr, stack_size, thread_start, start, 0, nullptr);
  if (h == nullptr) {
    DWORD error = GetLastError();
    delete start;
    SetLastError(error);
    return nullptr;
  }
  return reinterpret_cast<Thread*>(h);
}

void set_priority_highest(Thread* thread) {
  if (thread != nullptr) SetThreadPriority(handle_of(thread), THREAD_PRIORITY_HIGHEST);
}

void wait_thread(Thread* thread) {
  if (thread != nullptr) WaitForSingleObject(handle_of(thread), INFINITE);
}

void close_thread(Thread* thread) {
  if (thread != nullptr) CloseHandle(handle_of(thread));
}

// ---- events ----------------------------------------------------------------------------
Event* create_event(bool manual_reset, bool initially_signalled) {
  return reinterpret_cast<Event*>(CreateEventA(nullptr, manual_reset ? TRUE : FALSE,
                                               initially_signalled ? TRUE : FALSE, nullptr));
}
void set_event(Event* event) { SetEvent(handle_of(event)); }
void reset_event(Event* event) { ResetEvent(handle_of(event)); }
bool wait_event(Event* event, uint32_t timeout_ms) {
  static_assert(INFINITE == UINT32_MAX);
  return WaitForSingleObject(handle_of(event), timeout_ms) == WAIT_OBJECT_0;
}
void close_event(Event* event) {
  if (event != nullptr) CloseHandle(handle_of(event));
}

// ---- critical section ------------------------------------------------------------------
static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 16,
              "critical section storage too small");

namespace {
CRITICAL_SECTION* section(unsigned char* storage) {
  return std::launder(reinterpret_cast<CRITICAL_SECTION*>(storage));
}
}  // namespace

void CriticalSection::init() { InitializeCriticalSection(new (storage_) CRITICAL_SECTION); }
void CriticalSection::destroy() { DeleteCriticalSection(section(storage_)); }
void CriticalSection::enter() { EnterCriticalSection(section(storage_)); }
void CriticalSection::leave() { LeaveCriticalSection(section(storage_)); }

// ---- memory ----------------------------------------------------------------------------
WorkBuffer::WorkBuffer(size_t bytes) {
  if (detail::work_allocation_fails()) return;
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes == 0 ? 1 : bytes);
  if (h == nullptr) return;
  void* p = GlobalLock(h);
  if (p == nullptr) {
    GlobalFree(h);
    return;
  }
  handle_ = h;
  data_ = p;
  size_ = bytes;
}

WorkBuffer::~WorkBuffer() {
  if (handle_ == nullptr) return;
  GlobalUnlock(handle_);
  GlobalFree(handle_);
}

void* local_alloc(size_t bytes) { return LocalAlloc(LPTR, bytes == 0 ? 1 : bytes); }
void local_free(void* block) {
  if (block != nullptr) LocalFree(block);
}

// ---- reporter output -------------------------------------------------------------------
void format_message(char (&buf)[256], const char* format, va_list args) {
  // wvsprintfA knows no buffer size: it writes up to its own limit of 1024 characters.
  // Format into room for that much and keep what fits the caller's 256 bytes.
  char full[2048];
  wvsprintfA(full, format, args);
  full[sizeof full - 1] = '\0';
  lstrcpynA(buf, full, static_cast<int>(sizeof buf));
}

// Task-modal, exclamation icon, one OK button.
inline constexpr UINT kMessageBoxStyle = 0x2030;
static_assert(kMessageBoxStyle == (MB_TASKMODAL | MB_ICONEXCLAMATION | MB_OK));

void show_message(const char* text) {
  void* context = nullptr;
  if (MessageHook hook = detail::message_hook(&context); hook != nullptr) {
    hook(text, context);
    return;
  }
  OutputDebugStringA(text);
  MessageBoxA(nullptr, text, nullptr, kMessageBoxStyle);
}

#if !UCAP_WITH_VCAM
// ---- device interfaces and I/O control: the camera's 1394 driver --------------------------
static_assert(sizeof(InterfaceData) == sizeof(SP_DEVICE_INTERFACE_DATA));
static_assert(alignof(InterfaceData) >= alignof(SP_DEVICE_INTERFACE_DATA));
static_assert(kDetailSizeField == sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
static_assert(kDetailPathOffset == offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath));
static_assert(sizeof(Guid) == sizeof(GUID));

namespace {
HDEVINFO info_of(DeviceInfoSet* set) { return reinterpret_cast<HDEVINFO>(set); }
const GUID* guid_of(const Guid& guid) { return reinterpret_cast<const GUID*>(guid.bytes); }
HANDLE file_of(DeviceHandle h) { return static_cast<HANDLE>(h); }
}  // namespace

DeviceInfoSet* get_class_devs(const Guid& guid) {
  HDEVINFO set =
      SetupDiGetClassDevsA(guid_of(guid), nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return nullptr;
  return reinterpret_cast<DeviceInfoSet*>(set);
}

bool enum_device_interface(DeviceInfoSet* set, const Guid& guid, uint32_t index,
                           InterfaceData* data) {
  return SetupDiEnumDeviceInterfaces(info_of(set), nullptr, guid_of(guid), index,
                                     reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data)) != FALSE;
}

bool get_interface_detail(DeviceInfoSet* set, InterfaceData* data, void* detail,
                          uint32_t detail_size, uint32_t* required) {
  DWORD needed = 0;
  BOOL ok = SetupDiGetDeviceInterfaceDetailA(
      info_of(set), reinterpret_cast<SP_DEVICE_INTERFACE_DATA*>(data),
      static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(detail), detail_size, &needed, nullptr);
  if (required != nullptr) *required = needed;
  return ok != FALSE;
}

void destroy_device_info_list(DeviceInfoSet* set) {
  if (set != nullptr) SetupDiDestroyDeviceInfoList(info_of(set));
}

DeviceHandle open_device(const char* path, bool overlapped) {
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
  static_assert(sizeof(HANDLE) == sizeof(DeviceHandle));
  return h == INVALID_HANDLE_VALUE ? kInvalidDevice : static_cast<DeviceHandle>(h);
}

void close_device(DeviceHandle h) {
  if (device_valid(h)) CloseHandle(file_of(h));
}

bool device_io_control(DeviceHandle h, uint32_t code, const void* in, uint32_t in_len, void* out,
                       uint32_t out_len, uint32_t* returned) {
  DWORD got = 0;
  BOOL ok =
      DeviceIoControl(file_of(h), code, const_cast<void*>(in), in_len, out, out_len, &got, nullptr);
  if (returned != nullptr) *returned = got;
  return ok != FALSE;
}

struct Overlapped {
  OVERLAPPED io;
  bool started;  // the last request was accepted (completed at once or pending)
};

Overlapped* create_overlapped(Event* event) {
  auto* ov = new (std::nothrow) Overlapped{};
  if (ov != nullptr) ov->io.hEvent = handle_of(event);
  return ov;
}

void destroy_overlapped(Overlapped* ov) {
  if (ov == nullptr) return;
  // A request the driver has not completed yet still owns the record: the system writes
  // its status there on completion, also after CancelIo or CloseHandle, which may return
  // before that. Wait for it (bounded); a request that never completes keeps its record,
  // leaked rather than freed under the driver.
  if (ov->started) {
    ULONGLONG deadline = GetTickCount64() + 5000;
    while (!HasOverlappedIoCompleted(&ov->io) && GetTickCount64() < deadline) Sleep(1);
    if (!HasOverlappedIoCompleted(&ov->io)) return;
  }
  delete ov;
}

bool device_io_control_overlapped(DeviceHandle h, uint32_t code, const void* in, uint32_t in_len,
                                  void* out, uint32_t out_len, Overlapped* ov) {
  HANDLE event = ov->io.hEvent;
  ov->io = OVERLAPPED{};
  ov->io.hEvent = event;
  BOOL ok = DeviceIoControl(file_of(h), code, const_cast<void*>(in), in_len, out, out_len, nullptr,
                            &ov->io);
  DWORD error = ok ? ERROR_SUCCESS : GetLastError();
  // A request refused at once never reaches the driver, and the system leaves the record's
  // status as it set it before the call: pending.
  ov->started = ok || error == ERROR_IO_PENDING;
  SetLastError(error);
  return ok != FALSE;
}

bool get_overlapped_result(DeviceHandle h, Overlapped* ov, uint32_t* bytes, bool wait) {
  DWORD got = 0;
  BOOL ok = GetOverlappedResult(file_of(h), &ov->io, &got, wait ? TRUE : FALSE);
  if (bytes != nullptr) *bytes = got;
  return ok != FALSE;
}

bool cancel_io(DeviceHandle h) { return CancelIo(file_of(h)) != FALSE; }
#endif  // !UCAP_WITH_VCAM

}  // namespace ucap::platform
