// POSIX implementation of the platform port: pthreads, condition-variable events, the
// C heap, stderr for reports, and the virtual camera's driver surface for devices.
#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/internal.h"
#include "platform/platform.h"

namespace ucap::platform {

namespace {
thread_local uint32_t t_last_error = 0;
}  // namespace

uint32_t last_error() { return t_last_error; }
void set_last_error(uint32_t code) { t_last_error = code; }

int compare_strings(const char* a, const char* b) { return std::strcmp(a, b); }

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {}
}

// ---- threads ------------------------------------------------------------------------
struct Thread {
  pthread_t id{};
  bool joined = false;
};

namespace {
// What the new thread runs; it owns the block, because the handle may be closed (and
// the Thread freed) before the thread has started.
struct ThreadStart {
  ThreadProc proc;
  void* arg;
};
void* thread_trampoline(void* p) {
  const ThreadStart start = *static_cast<ThreadStart*>(p);
  delete static_cast<ThreadStart*>(p);
  start.proc(start.arg);
  return nullptr;
}
}  // namespace

Thread* create_thread(ThreadProc proc, void* arg, uint32_t stack_size) {
  if (detail::thread_creation_fails()) {
    set_last_error(8);
    return nullptr;
  }
  auto* t = new (std::nothrow) Thread;
  auto* start = new (std::nothrow) ThreadStart{proc, arg};
  if (t == nullptr || start == nullptr) {
    delete t;
    delete start;
    set_last_error(8);
    return nullptr;
  }
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // The stack argument is a minimum: POSIX systems (and the sanitizers) need more than
  // the small stacks Windows commits on demand.
  size_t stack = stack_size < (1u << 20) ? (1u << 20) : stack_size;
  pthread_attr_setstacksize(&attr, stack);
  int rc = pthread_create(&t->id, &attr, thread_trampoline, start);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete t;
    delete start;
    set_last_error(8);
    return nullptr;
  }
  return t;
}

void set_priority_highest(Thread*) {
  // Unprivileged POSIX threads under the default policy have no higher priority to take.
}

void wait_thread(Thread* thread) {
  if (thread == nullptr || thread->joined) return;
  pthread_join(thread->id, nullptr);
  thread->joined = true;
}

void close_thread(Thread* thread) {
  if (thread == nullptr) return;
  if (!thread->joined) pthread_detach(thread->id);
  delete thread;
}

// ---- events ------------------------------------------------------------------------
struct Event {
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
  bool manual_reset = true;
};

Event* create_event(bool manual_reset, bool initially_signalled) {
  auto* e = new (std::nothrow) Event;
  if (e == nullptr) return nullptr;
  e->manual_reset = manual_reset;
  e->signalled = initially_signalled;
  return e;
}

void set_event(Event* e) {
  {
    std::lock_guard<std::mutex> lock(e->mutex);
    e->signalled = true;
  }
  e->cv.notify_all();
}

void reset_event(Event* e) {
  std::lock_guard<std::mutex> lock(e->mutex);
  e->signalled = false;
}

bool wait_event(Event* e, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(e->mutex);
  auto ready = [e] { return e->signalled; };
  if (timeout_ms == UINT32_MAX) {
    e->cv.wait(lock, ready);
  } else if (!e->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return false;
  }
  if (!e->manual_reset) e->signalled = false;
  return true;
}

void close_event(Event* e) { delete e; }

// ---- critical section ------------------------------------------------------------------
static_assert(sizeof(pthread_mutex_t) <= 64, "critical section storage too small");

void CriticalSection::init() {
  pthread_mutexattr_t attr;
  pthread_mutexattr_init(&attr);
  pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);  // re-entrant, like Windows
  pthread_mutex_init(reinterpret_cast<pthread_mutex_t*>(storage_), &attr);
  pthread_mutexattr_destroy(&attr);
}
void CriticalSection::destroy() {
  pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_));
}
void CriticalSection::enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void CriticalSection::leave() {
  pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_));
}

// ---- memory ----------------------------------------------------------------------------
WorkBuffer::WorkBuffer(size_t bytes) {
  if (detail::work_allocation_fails()) return;
  data_ = std::calloc(bytes == 0 ? 1 : bytes, 1);
  handle_ = data_;
  size_ = data_ != nullptr ? bytes : 0;
}

WorkBuffer::~WorkBuffer() { std::free(handle_); }

void* local_alloc(size_t bytes) { return std::calloc(bytes == 0 ? 1 : bytes, 1); }
void local_free(void* block) { std::free(block); }

// ---- reporter output -------------------------------------------------------------------
void format_message(char (&buf)[256], const char* format, va_list args) {
  std::vsnprintf(buf, sizeof buf, format, args);
}

void show_message(const char* text) {
  void* context = nullptr;
  if (MessageHook hook = detail::message_hook(&context); hook != nullptr) {
    hook(text, context);
    return;
  }
  std::fprintf(stderr, "ucap: %s\n", text);
}

// ---- devices ------------------------------------------------------------------------------
// Builds with the virtual camera route the device calls to it (platform/vcam_devices.cpp).
#if !UCAP_WITH_VCAM
// Without the virtual camera there is no 1394 driver on this system.

struct DeviceInfoSet {};
struct Overlapped {
  Event* event;
};
DeviceInfoSet* get_class_devs(const Guid&) {
  set_last_error(2);
  return nullptr;
}
bool enum_device_interface(DeviceInfoSet*, const Guid&, uint32_t, InterfaceData*) {
  set_last_error(259);
  return false;
}
bool get_interface_detail(DeviceInfoSet*, InterfaceData*, void*, uint32_t, uint32_t*) {
  set_last_error(259);
  return false;
}
void destroy_device_info_list(DeviceInfoSet*) {}
DeviceHandle open_device(const char*, bool) {
  set_last_error(2);
  return kInvalidDevice;
}
void close_device(DeviceHandle) {}
bool device_io_control(DeviceHandle, uint32_t, const void*, uint32_t, void*, uint32_t, uint32_t*) {
  set_last_error(6);
  return false;
}
Overlapped* create_overlapped(Event* event) { return new (std::nothrow) Overlapped{event}; }
void destroy_overlapped(Overlapped* ov) { delete ov; }
bool device_io_control_overlapped(DeviceHandle, uint32_t, const void*, uint32_t, void*, uint32_t,
                                  Overlapped*) {
  set_last_error(6);
  return false;
}
bool get_overlapped_result(DeviceHandle, Overlapped*, uint32_t*, bool) {
  set_last_error(6);
  return false;
}
bool cancel_io(DeviceHandle) { return false; }

#endif

}  // namespace ucap::platform
