#include "device/monitor.h"

#include "core/record.h"
#include "core/state.h"
#include "device/requests.h"
#include "platform/platform.h"

namespace ucap::device {

namespace {

// The event stays published: UcapClose signals it, waits for this thread, then closes it.
void close_all(platform::DeviceHandle h, platform::Overlapped* ov) {
  platform::close_device(h);
  platform::destroy_overlapped(ov);
}

}  // namespace

namespace {

// Marks the monitor ended on every way out, so UcapClose never waits for an event that
// will not come.
struct AliveFlag {
  std::atomic<int32_t>& alive;
  ~AliveFlag() { alive.store(0); }
};

// Holds the registration guard: a callback is never called with another registration's
// user value.
class RegistrationGuard {
 public:
  explicit RegistrationGuard(std::atomic_flag& flag) : flag_(flag) {
    while (flag_.test_and_set(std::memory_order_acquire)) platform::sleep_ms(0);
  }
  ~RegistrationGuard() { flag_.clear(std::memory_order_release); }
  RegistrationGuard(const RegistrationGuard&) = delete;
  RegistrationGuard& operator=(const RegistrationGuard&) = delete;

 private:
  std::atomic_flag& flag_;
};

}  // namespace

uint32_t bus_reset_monitor(void* table) {
  ProcessState& s = state();
  AliveFlag alive_flag{s.monitor_alive};
  auto* first = static_cast<CameraRecord*>(table);
  platform::DeviceHandle h = platform::open_device(first->device_path, true);
  if (!platform::device_valid(h)) return 0;

  platform::Event* event = platform::create_event(true, false);
  if (event == nullptr) {
    platform::close_device(h);
    return 0;
  }
  // Reset before publishing: a signal from UcapClose must never be wiped out.
  platform::reset_event(event);
  s.monitor_event.store(event);
  platform::Overlapped* ov = platform::create_overlapped(event);
  if (ov == nullptr) {
    platform::close_device(h);
    return 0;
  }

  auto arm = [&]() -> bool {
    if (platform::device_io_control_overlapped(h, kIoctlBusResetNotify, nullptr, 0, nullptr, 0, ov))
      return true;  // completed at once: the next wait returns immediately
    return platform::last_error() == platform::kErrorIoPending;
  };
  if (!arm()) {
    close_all(h, ov);
    return 0;
  }
  for (;;) {
    uint32_t bytes = 0;
    // The stop flag is set before the event is signalled, so checking it after each reset
    // of the event and before each wait loses no stop request.
    bool ok = s.monitor_stop.load() == 0 && platform::get_overlapped_result(h, ov, &bytes, true);
    if (s.monitor_stop.load() != 0) {
      platform::cancel_io(h);
      // Let the cancelled request complete before its record is released.
      platform::get_overlapped_result(h, ov, &bytes, true);
      close_all(h, ov);
      return 0;
    }
    if (!ok) {
      close_all(h, ov);
      return 0;
    }
    UcapBusResetCallback callback = nullptr;
    uint64_t user = 0;
    {
      const RegistrationGuard guard(s.bus_reset_guard);
      callback = s.bus_reset_callback.load();
      user = s.bus_reset_user.load();
    }
    if (callback != nullptr) {
      const ShutRefused refused;  // UcapClose waits for this thread: the callback may not call it
      callback(user);
    }
    platform::reset_event(event);
    if (!arm()) {
      close_all(h, ov);
      return 0;
    }
  }
}

void set_bus_reset_callback(UcapBusResetCallback callback, uint64_t user) {
  ProcessState& s = state();
  const RegistrationGuard guard(s.bus_reset_guard);
  s.bus_reset_user.store(user);
  s.bus_reset_callback.store(callback);
}

}  // namespace ucap::device
