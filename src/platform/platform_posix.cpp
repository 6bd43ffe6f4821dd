// POSIX implementation of the platform port: pthreads, condition-variable events, the
// C heap, stderr for reports, and the virtual camera's driver surface for devices.
#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/platform.h"

#if UCAP_WITH_VCAM
#include "vcam/driver.h"
#endif

namespace ucap::platform {

namespace {
thread_local uint32_t t_last_error = 0;
std::atomic<int> g_fail_threads{0};
std::atomic<int> g_fail_work{0};
std::atomic<MessageHook> g_hook{nullptr};
std::atomic<void*> g_hook_context{nullptr};

bool take_fault(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}
}  // namespace

uint32_t last_error() { return t_last_error; }
void set_last_error(uint32_t code) { t_last_error = code; }

int compare_strings(const char* a, const char* b) { return std::strcmp(a, b); }

void sleep_ms(uint32_t ms) {
  timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// ---- threads ------------------------------------------------------------------------
struct Thread {
  pthread_t id{};
  ThreadProc proc = nullptr;
  void* arg = nullptr;
  bool joined = false;
};

namespace {
void* thread_trampoline(void* p) {
  auto* t = static_cast<Thread*>(p);
  ThreadProc proc = t->proc;
  void* arg = t->arg;
  proc(arg);
  return nullptr;
}
}  // namespace

Thread* create_thread(ThreadProc proc, void* arg, uint32_t stack_size) {
  if (take_fault(g_fail_threads)) {
    set_last_error(8);
    return nullptr;
  }
  auto* t = new (std::nothrow) Thread;
  if (t == nullptr) return nullptr;
  t->proc = proc;
  t->arg = arg;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // The stack argument is a minimum: POSIX systems (and the sanitizers) need more than
  // the small stacks Windows commits on demand.
  size_t stack = stack_size < (1u << 20) ? (1u << 20) : stack_size;
  pthread_attr_setstacksize(&attr, stack);
  int rc = pthread_create(&t->id, &attr, thread_trampoline, t);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete t;
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
void CriticalSection::destroy() { pthread_mutex_destroy(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void CriticalSection::enter() { pthread_mutex_lock(reinterpret_cast<pthread_mutex_t*>(storage_)); }
void CriticalSection::leave() { pthread_mutex_unlock(reinterpret_cast<pthread_mutex_t*>(storage_)); }

// ---- memory ----------------------------------------------------------------------------
WorkBuffer::WorkBuffer(size_t bytes) {
  if (take_fault(g_fail_work)) return;
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
  MessageHook hook = g_hook.load();
  if (hook != nullptr) {
    hook(text, g_hook_context.load());
    return;
  }
  std::fprintf(stderr, "ucap: %s\n", text);
}

void set_message_hook(MessageHook hook, void* context) {
  g_hook_context.store(context);
  g_hook.store(hook);
}

namespace testing {
void fail_thread_creations(int count) { g_fail_threads.store(count); }
void fail_work_allocations(int count) { g_fail_work.store(count); }
}  // namespace testing

// ---- devices ------------------------------------------------------------------------------
#if UCAP_WITH_VCAM

struct DeviceInfoSet {
  vcam::DeviceSet* set;
};

DeviceInfoSet* get_class_devs(const Guid& guid) {
  uint32_t err = 0;
  vcam::DeviceSet* s = vcam::open_set(guid.bytes, 0x12 /* DIGCF_PRESENT | DIGCF_DEVICEINTERFACE */, &err);
  if (s == nullptr) {
    set_last_error(err);
    return nullptr;
  }
  auto* d = new (std::nothrow) DeviceInfoSet{s};
  if (d == nullptr) vcam::destroy_set(s);
  return d;
}

bool enum_device_interface(DeviceInfoSet* set, const Guid&, uint32_t index, InterfaceData* data) {
  uint32_t err = 0;
  bool ok = vcam::enum_interface(set->set, index, data, &err);
  if (!ok) set_last_error(err);
  return ok;
}

bool get_interface_detail(DeviceInfoSet* set, InterfaceData* data, void* detail,
                          uint32_t detail_size, uint32_t* required) {
  uint32_t err = 0;
  bool ok = vcam::interface_detail(set->set, data, detail, detail_size, required, &err);
  if (!ok) set_last_error(err);
  return ok;
}

void destroy_device_info_list(DeviceInfoSet* set) {
  if (set == nullptr) return;
  vcam::destroy_set(set->set);
  delete set;
}

namespace {
vcam::Handle to_vcam(DeviceHandle h) { return reinterpret_cast<vcam::Handle>(h); }
}  // namespace

DeviceHandle open_device(const char* path, bool overlapped) {
  uint32_t err = 0;
  vcam::Handle h = vcam::open(path, overlapped, &err);
  if (h == vcam::kInvalidHandle) {
    set_last_error(err);
    return kInvalidDevice;
  }
  return reinterpret_cast<DeviceHandle>(h);
}

void close_device(DeviceHandle h) {
  uint32_t err = 0;
  if (!vcam::close(to_vcam(h), &err)) set_last_error(err);
}

bool device_io_control(DeviceHandle h, uint32_t code, const void* in, uint32_t in_len, void* out,
                       uint32_t out_len, uint32_t* returned) {
  uint32_t err = 0;
  uint32_t got = 0;
  bool ok = vcam::ioctl(to_vcam(h), code, in, in_len, out, out_len, &got, &err);
  if (returned != nullptr) *returned = got;
  if (!ok) set_last_error(err);
  return ok;
}

struct Overlapped {
  vcam::Overlapped io;
  Event* event = nullptr;
};

namespace {
void signal_overlapped(void* ctx) { set_event(static_cast<Event*>(ctx)); }
}  // namespace

Overlapped* create_overlapped(Event* event) {
  auto* ov = new (std::nothrow) Overlapped;
  if (ov == nullptr) return nullptr;
  ov->event = event;
  ov->io.signal = signal_overlapped;
  ov->io.ctx = event;
  return ov;
}

void destroy_overlapped(Overlapped* ov) { delete ov; }

bool device_io_control_overlapped(DeviceHandle h, uint32_t code, const void* in, uint32_t in_len,
                                  void* out, uint32_t out_len, Overlapped* ov) {
  uint32_t err = 0;
  ov->io.status.store(vcam::kErrIoPending);
  ov->io.bytes.store(0);
  bool ok = vcam::ioctl_overlapped(to_vcam(h), code, in, in_len, out, out_len, &ov->io, &err);
  if (!ok) set_last_error(err);
  return ok;
}

bool get_overlapped_result(DeviceHandle, Overlapped* ov, uint32_t* bytes, bool wait) {
  // As GetOverlappedResult: while the request is pending, wait on its event (the event may
  // also be signalled by someone else); then report the status as it stands.
  uint32_t status = ov->io.status.load();
  if (status == vcam::kErrIoPending) {
    if (!wait) {
      set_last_error(996);  // ERROR_IO_INCOMPLETE
      return false;
    }
    wait_event(ov->event, UINT32_MAX);
    status = ov->io.status.load();
  }
  if (bytes != nullptr) *bytes = ov->io.bytes.load();
  if (status != 0 && status != vcam::kErrIoPending) {
    set_last_error(status);
    return false;
  }
  return true;
}

bool cancel_io(DeviceHandle h) {
  uint32_t err = 0;
  bool ok = vcam::cancel_io(to_vcam(h), &err);
  if (!ok) set_last_error(err);
  return ok;
}

#else  // without the virtual camera there is no 1394 driver on this system

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
