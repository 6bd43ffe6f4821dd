// The device half of the platform port routed to the virtual camera's driver surface
// (vcam/driver.h) instead of SetupDi*, CreateFileA and DeviceIoControl. It needs nothing
// from the operating system beyond the port's own events and last-error code, so every
// build that carries the virtual camera can use it.
#if UCAP_WITH_VCAM

#include <new>

#include "platform/platform.h"
#include "vcam/driver.h"

namespace ucap::platform {

namespace {
// Stores a driver failure as the calling thread's last error; passes `ok` through. `err`
// is taken by reference: in failed_with(call(&err), err) it is read only after the call.
bool failed_with(bool ok, const uint32_t& err) {
  if (!ok) set_last_error(err);
  return ok;
}
vcam::Handle to_vcam(DeviceHandle h) { return reinterpret_cast<vcam::Handle>(h); }
}  // namespace

// ---- device interfaces -------------------------------------------------------------------
struct DeviceInfoSet {
  vcam::DeviceSet* set;
};

DeviceInfoSet* get_class_devs(const Guid& guid) {
  uint32_t err = 0;
  vcam::DeviceSet* s =
      vcam::open_set(guid.bytes, 0x12 /* DIGCF_PRESENT | DIGCF_DEVICEINTERFACE */, &err);
  if (s == nullptr) {
    set_last_error(err);
    return nullptr;
  }
  auto* d = new (std::nothrow) DeviceInfoSet{s};
  if (d == nullptr) {
    vcam::destroy_set(s);
    set_last_error(vcam::kErrNotEnoughMemory);
  }
  return d;
}

bool enum_device_interface(DeviceInfoSet* set, const Guid&, uint32_t index, InterfaceData* data) {
  uint32_t err = 0;
  return failed_with(vcam::enum_interface(set->set, index, data, &err), err);
}

bool get_interface_detail(DeviceInfoSet* set, InterfaceData* data, void* detail,
                          uint32_t detail_size, uint32_t* required) {
  uint32_t err = 0;
  return failed_with(vcam::interface_detail(set->set, data, detail, detail_size, required, &err),
                     err);
}

void destroy_device_info_list(DeviceInfoSet* set) {
  if (set == nullptr) return;
  vcam::destroy_set(set->set);
  delete set;
}

// ---- device files and I/O control -----------------------------------------------------------
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
  failed_with(vcam::close(to_vcam(h), &err), err);
}

bool device_io_control(DeviceHandle h, uint32_t code, const void* in, uint32_t in_len, void* out,
                       uint32_t out_len, uint32_t* returned) {
  uint32_t err = 0;
  uint32_t got = 0;
  bool ok = vcam::ioctl(to_vcam(h), code, in, in_len, out, out_len, &got, &err);
  if (returned != nullptr) *returned = got;
  return failed_with(ok, err);
}

// The driver completes a request by storing its status and calling signal(ctx), which
// sets the request's event, as a completing OVERLAPPED request sets hEvent.
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
  return failed_with(
      vcam::ioctl_overlapped(to_vcam(h), code, in, in_len, out, out_len, &ov->io, &err), err);
}

bool get_overlapped_result(DeviceHandle, Overlapped* ov, uint32_t* bytes, bool wait) {
  // As GetOverlappedResult: while the request is pending, fail with ERROR_IO_INCOMPLETE
  // without waiting, or wait on its event (which someone else may also set) and then
  // take the status as it stands; a request still pending after the event counts as done.
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
  return failed_with(status == 0 || status == vcam::kErrIoPending, status);
}

bool cancel_io(DeviceHandle h) {
  uint32_t err = 0;
  return failed_with(vcam::cancel_io(to_vcam(h), &err), err);
}

}  // namespace ucap::platform

#endif  // UCAP_WITH_VCAM
