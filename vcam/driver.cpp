// The virtual 1394 driver: device-interface enumeration, handles, the I/O control
// requests with their exact records, isochronous bookkeeping, frame buffers, capture
// waits and bus-reset notifications.
#include "vcam/driver.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <new>

#include "vcam/internal.h"

namespace vcam {

struct DeviceSet {
  std::vector<std::string> paths;
  std::vector<std::weak_ptr<Camera>> cams;
};

namespace {

constexpr uint8_t kClassGuid[16] = {0x55, 0xDF, 0x59, 0xC4, 0x08, 0xDB, 0xD1, 0x11,
                                    0xB0, 0x09, 0x00, 0xA0, 0xC9, 0x08, 0x1F, 0xF6};

constexpr uint32_t kIoRead = 0x222008;
constexpr uint32_t kIoWrite = 0x22200C;
constexpr uint32_t kIoAllocBandwidth = 0x222014;
constexpr uint32_t kIoAllocChannel = 0x222018;
constexpr uint32_t kIoAllocResources = 0x22201C;
constexpr uint32_t kIoAttachBuffers = 0x222020;
constexpr uint32_t kIoFreeBandwidth = 0x222028;
constexpr uint32_t kIoFreeChannel = 0x22202C;
constexpr uint32_t kIoFreeResources = 0x222030;
constexpr uint32_t kIoStop = 0x222044;
constexpr uint32_t kIoNodeAddress = 0x222050;
constexpr uint32_t kIoBusReset = 0x2220C8;
constexpr uint32_t kIoWaitSetup = 0x2220F0;
constexpr uint32_t kIoCancelWait = 0x2220F4;
constexpr uint32_t kIoFrameBuffer = 0x222104;
constexpr uint32_t kIoSelectBuffer = 0x222108;

uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint64_t le64(const uint8_t* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }
void put_le16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void put_le64(uint8_t* p, uint64_t v) {
  put_le32(p, static_cast<uint32_t>(v));
  put_le32(p + 4, static_cast<uint32_t>(v >> 32));
}

uint32_t max_payload(uint32_t speed) {
  switch (speed) {
    case 1: return 1024;  // S100
    case 2: return 2048;  // S200
    case 4: return 4096;  // S400
    default: return 0;
  }
}

// Bandwidth allocation units of one packet per cycle (one unit: a quadlet at S1600).
uint32_t bandwidth_units(uint32_t bytes_per_packet, uint32_t speed) {
  return 512 + (bytes_per_packet / 4 + 3) * (16 / speed);
}

bool fail(uint32_t* err, uint32_t code) {
  *err = code;
  return false;
}

// Completes a pending notification; called with the bus lock held so that a handle
// cannot be closed (and its owner's event destroyed) while the signal is delivered.
void complete(Overlapped* ov, uint32_t status) {
  ov->bytes.store(0);
  ov->status.store(status);
  if (ov->signal != nullptr) ov->signal(ov->ctx);
}

void complete_handle(Bus& b, Handle h, uint32_t status) {
  auto& n = b.notifications;
  for (auto it = n.begin(); it != n.end();) {
    if (it->handle == h) {
      complete(it->ov, status);
      it = n.erase(it);
    } else {
      ++it;
    }
  }
}

void bus_reset_locked(Bus& b) {
  for (const Pending& p : b.notifications) complete(p.ov, 0);
  b.notifications.clear();
}

Bus* make_bus();

}  // namespace

void bus_reset(Bus& b) { bus_reset_locked(b); }

Bus& bus() {
  static Bus* const b = make_bus();
  return *b;
}

std::shared_ptr<Camera> find_camera(Bus& b, int id) {
  if (id < 0 || static_cast<size_t>(id) >= b.cameras.size()) return nullptr;
  return b.cameras[static_cast<size_t>(id)];
}

// ---- attach and detach (called by the control surface with the lock held) --------------

int attach_camera(Bus& b, const char* config) {
  auto cam = std::make_shared<Camera>();
  int id = static_cast<int>(b.cameras.size());
  cam->id = id;
  Fault bus_fault = b.open_set_fault;
  b.config_error = parse_config(config, true, &cam->cfg, &cam->faults, &bus_fault);
  if (!b.config_error.empty()) return -1;
  if (!cam->cfg.uid_set) cam->cfg.uid = 0x00A1C000u + static_cast<uint32_t>(id);
  if (cam->cfg.id_field.empty()) {
    char text[24];
    std::snprintf(text, sizeof text, "0030C5%08X", cam->cfg.uid);
    cam->cfg.id_field = text;
  }
  int node = cam->cfg.node >= 0 ? cam->cfg.node : id % 62 + 1;
  cam->node_address = static_cast<uint16_t>(0x3FF << 6 | node);
  camera_power_on(*cam);
  if (cam->faults.lapse_after == ~0u) cam->faults.lapse_after = 0;
  cam->faults.memory_release = false;  // nothing is stuck yet
  cam->path = camera_path(*cam);
  b.open_set_fault = bus_fault;
  b.cameras.push_back(cam);
  bus_reset_locked(b);
  return id;
}

void release_camera_resources(Bus& b, Camera& cam) {
  for (auto it = b.resources.begin(); it != b.resources.end();) {
    auto owner = it->second.cam.lock();
    if (owner.get() == &cam)
      it = b.resources.erase(it);
    else
      ++it;
  }
  for (auto it = b.bandwidth.begin(); it != b.bandwidth.end();) {
    if (it->second.owner == &cam) {
      b.bandwidth_used -= it->second.units;
      it = b.bandwidth.erase(it);
    } else {
      ++it;
    }
  }
  for (int ch = 0; ch < 64; ++ch) {
    if (b.channel_owner[ch] == &cam) {
      b.channels_used &= ~(1ull << ch);
      b.channel_owner[ch] = nullptr;
    }
  }
}

void detach_camera(Bus& b, Camera& cam) {
  if (!cam.attached) return;
  cam.attached = false;
  if (cam.cfg.replug_after_ms > 0) {
    cam.replug_pending = true;
    cam.replug_at =
        Clock::now() +
        std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(cam.cfg.replug_after_ms / cam.cfg.timescale));
  }
  ++cam.cancel_serial;
  release_camera_resources(b, cam);
  for (auto& buf : cam.frame_buffer)
    if (buf) cam.retired_buffers.push_back(std::move(buf));
  cam.frame_buffer_size = 0;
  b.cv.notify_all();
  bus_reset_locked(b);
}

namespace {

Bus* make_bus() {
  Bus* b = new Bus;
  attach_camera(*b, "");
  return b;
}

// ---- request handlers --------------------------------------------------------------

struct Request {
  Bus& b;
  std::unique_lock<std::mutex>& lk;
  std::shared_ptr<HandleRec> hr;
  Camera& cam;
  Handle handle;
  uint32_t code;
  const uint8_t* in;  // the caller's input record, then the copy in `rec`
  uint32_t in_len;
  uint8_t* out;
  uint32_t out_len;
  uint32_t* returned;
  // What the request log says of it: the request's name and its arguments, each " key=value".
  const char* name;
  std::string args;
  uint8_t rec[256];
};

// Adds one argument to the request's log line: decimal, or hexadecimal with 0x.
void arg(Request& r, const char* key, uint64_t value, bool hex = false) {
  char digits[24];
  char* end = std::to_chars(digits, digits + sizeof digits, value, hex ? 16 : 10).ptr;
  for (char* c = digits; c != end; ++c)
    *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
  r.args.append(" ").append(key).append(hex ? "=0x" : "=").append(digits, end);
}

bool sizes(const Request& r, uint32_t in_len, uint32_t out_len, uint32_t* err) {
  if (r.in_len != in_len || r.out_len != out_len) return fail(err, kErrInvalidParameter);
  return true;
}

bool read_write(Request& r, uint32_t* err) {
  if (!(r.in_len == 44 || r.in_len == 168) || r.out_len != r.in_len)
    return fail(err, kErrInvalidParameter);
  const uint8_t* p = r.in;
  uint32_t count = le32(p + 20), block = le32(p + 24);
  bool quadlet = r.in_len == 44;
  if (le32(p) != 0 || le32(p + 4) != 1 || le16(p + 8) != r.cam.node_address ||
      le16(p + 12) != 0xFFFF || count != (quadlet ? 4u : 128u) || block != (quadlet ? 0u : 128u) ||
      le32(p + 28) != 0 || le32(p + 32) != 0)
    return fail(err, kErrInvalidParameter);
  uint32_t address = le32(p + 16);
  bool is_read = r.code == kIoRead;
  uint32_t code = 0;
  if (take_fault(is_read ? r.cam.faults.read : r.cam.faults.write, address, &code))
    return fail(err, code);
  uint8_t data[128];
  std::memcpy(data, p + 36, count);
  bool ok = false;
  if (is_read && quadlet) {
    uint32_t v = 0;
    ok = camera_read(r.cam, address, &v, err);
    if (auto it = r.cam.faults.misreport.find(address); ok && it != r.cam.faults.misreport.end())
      v = it->second;
    put_be32(data, v);
  } else if (is_read) {
    ok = camera_block_read(r.cam, address, data, err);
  } else if (quadlet) {
    ok = camera_write(r.cam, address, be32(data), err);
  } else {
    ok = camera_block_write(r.cam, address, data, err);
  }
  if (!ok) return false;
  if (!is_read) r.b.cv.notify_all();  // a register write may end a frame wait
  std::memcpy(r.out, r.in, r.in_len);
  std::memcpy(r.out + 36, data, count);
  *r.returned = r.out_len;
  return true;
}

bool alloc_bandwidth(Request& r, uint32_t* err) {
  if (!sizes(r, 24, 24, err)) return false;
  uint32_t bpp = le32(r.in), speed = le32(r.in + 4);
  arg(r, "bytes", bpp);
  arg(r, "speed", speed);
  uint32_t limit = max_payload(speed);
  if (limit == 0 || bpp == 0 || bpp > limit || bpp % 4 != 0) return fail(err, kErrInvalidParameter);
  uint32_t units = bandwidth_units(bpp, speed);
  if (r.b.bandwidth_used + units > kBandwidthBudget) return fail(err, kErrNoSystemResources);
  uint64_t handle = r.b.next_cookie++;
  r.b.bandwidth[handle] = Bandwidth{units, &r.cam};
  r.b.bandwidth_used += units;
  arg(r, "handle", handle, true);
  std::memcpy(r.out, r.in, 24);
  put_le64(r.out + 8, handle);
  *r.returned = 24;
  return true;
}

bool alloc_channel(Request& r, uint32_t* err) {
  if (!sizes(r, 16, 16, err)) return false;
  uint32_t want = le32(r.in);
  int ch = -1;
  if (want == 0xFFFFFFFF) {
    for (int c = 0; c < 64; ++c)
      if ((r.b.channels_used >> c & 1) == 0) {
        ch = c;
        break;
      }
    if (ch < 0) return fail(err, kErrNoSystemResources);
  } else if (want < 64) {
    if (r.b.channels_used >> want & 1) return fail(err, kErrNoSystemResources);
    ch = static_cast<int>(want);
  } else {
    return fail(err, kErrInvalidParameter);
  }
  r.b.channels_used |= 1ull << ch;
  r.b.channel_owner[ch] = &r.cam;
  arg(r, "channel", static_cast<uint32_t>(ch));
  std::memcpy(r.out, r.in, 16);
  put_le32(r.out + 4, static_cast<uint32_t>(ch));
  *r.returned = 16;
  return true;
}

bool alloc_resources(Request& r, uint32_t* err) {
  if (!sizes(r, 40, 40, err)) return false;
  const uint8_t* p = r.in;
  uint32_t speed = le32(p), flags = le32(p + 4), ch = le32(p + 8), bpp = le32(p + 12);
  uint32_t count = le32(p + 16), size = le32(p + 20), one = le32(p + 24);
  arg(r, "channel", ch);
  arg(r, "bytes", bpp);
  arg(r, "buffers", count);
  arg(r, "size", size);
  uint32_t limit = max_payload(speed);
  if (limit == 0 || flags != 9 || ch >= 64 || (r.b.channels_used >> ch & 1) == 0 || bpp == 0 ||
      bpp > limit || (count != 1 && count != 2) || size == 0 || one != 1)
    return fail(err, kErrInvalidParameter);
  uint64_t handle = r.b.next_cookie++;
  Resource res;
  res.channel = ch;
  res.bytes_per_packet = bpp;
  res.speed = speed;
  res.cam = r.hr->cam;
  r.b.resources[handle] = res;
  arg(r, "handle", handle, true);
  std::memcpy(r.out, r.in, 40);
  put_le64(r.out + 32, handle);
  *r.returned = 40;
  return true;
}

bool free_bandwidth(Request& r, uint32_t* err) {
  if (!sizes(r, 8, 0, err)) return false;
  arg(r, "handle", le64(r.in), true);
  auto it = r.b.bandwidth.find(le64(r.in));
  if (it == r.b.bandwidth.end()) return fail(err, kErrInvalidParameter);
  r.b.bandwidth_used -= it->second.units;
  r.b.bandwidth.erase(it);
  return true;
}

bool free_channel(Request& r, uint32_t* err) {
  if (!sizes(r, 4, 0, err)) return false;
  uint32_t ch = le32(r.in);
  arg(r, "channel", ch);
  if (ch >= 64 || (r.b.channels_used >> ch & 1) == 0) return fail(err, kErrInvalidParameter);
  r.b.channels_used &= ~(1ull << ch);
  r.b.channel_owner[ch] = nullptr;
  return true;
}

bool free_resources(Request& r, uint32_t* err) {
  if (!sizes(r, 8, 0, err)) return false;
  arg(r, "handle", le64(r.in), true);
  auto it = r.b.resources.find(le64(r.in));
  if (it == r.b.resources.end()) return fail(err, kErrInvalidParameter);
  r.b.resources.erase(it);
  r.b.cv.notify_all();
  return true;
}

bool stop_transfer(Request& r, uint32_t* err) {
  if (!sizes(r, 16, 0, err)) return false;
  uint64_t handle = le64(r.in);
  arg(r, "handle", handle, true);
  if (le32(r.in + 8) != 0) return fail(err, kErrInvalidParameter);
  if (handle == 0) return true;  // no resources: nothing runs, nothing to stop
  auto it = r.b.resources.find(handle);
  if (it == r.b.resources.end()) return fail(err, kErrInvalidParameter);
  ++it->second.stop_serial;
  r.b.cv.notify_all();
  return true;
}

bool node_address(Request& r, uint32_t* err) {
  if (!sizes(r, 8, 8, err)) return false;
  std::memcpy(r.out, r.in, 8);
  put_le16(r.out + 4, r.cam.node_address);
  put_le16(r.out + 6, 0);
  *r.returned = 8;
  return true;
}

bool wait_setup(Request& r, uint32_t* err) {
  if (!sizes(r, 20, 0, err)) return false;
  const uint8_t* p = r.in;
  uint32_t kind = le32(p), timeout = le32(p + 4), reg = le32(p + 16);
  arg(r, "kind", kind, true);
  arg(r, "timeout", timeout);
  arg(r, "register", reg, true);
  uint32_t want = kind == 0x80 ? kCommandBase + 0x61C : kCommandBase + 0x830;
  if ((kind != 0x80 && kind != 2 && kind != 3) || le16(p + 8) != r.cam.node_address ||
      le16(p + 12) != 0xFFFF || reg != want)
    return fail(err, kErrInvalidParameter);
  r.cam.wait_kind = kind;
  r.cam.wait_timeout_ms = timeout;
  r.cam.wait_register = reg;
  r.cam.wait_set = true;
  return true;
}

bool cancel_wait(Request& r, uint32_t* err) {
  if (!sizes(r, 0, 0, err)) return false;
  ++r.cam.cancel_serial;
  r.b.cv.notify_all();
  return true;
}

bool frame_buffer(Request& r, uint32_t* err) {
  if (!sizes(r, 24, 24, err)) return false;
  uint32_t size = le32(r.in), again = le32(r.in + 4);
  arg(r, "size", size);
  if (size != again) return fail(err, kErrInvalidParameter);
  Camera& cam = r.cam;
  uint64_t a0 = 0, a1 = 0;
  if (size == 0) {
    if (cam.capturing) return fail(err, kErrInvalidParameter);  // a frame is on its way
    cam.frame_buffer[0].reset();
    cam.frame_buffer[1].reset();
    cam.frame_buffer_size = 0;
  } else {
    if (size > kMaxFrameBuffer) return fail(err, kErrNotEnoughMemory);
    if (cam.frame_buffer[0] && cam.frame_buffer_size != size)
      return fail(err, kErrInvalidParameter);
    if (!cam.frame_buffer[0]) {
      std::unique_ptr<uint8_t[]> f0(new (std::nothrow) uint8_t[size]());
      std::unique_ptr<uint8_t[]> f1(new (std::nothrow) uint8_t[size]());
      if (!f0 || !f1) return fail(err, kErrNotEnoughMemory);
      cam.frame_buffer[0] = std::move(f0);
      cam.frame_buffer[1] = std::move(f1);
      cam.frame_buffer_size = size;
    }
    a0 = reinterpret_cast<uintptr_t>(cam.frame_buffer[0].get());
    a1 = reinterpret_cast<uintptr_t>(cam.frame_buffer[1].get());
  }
  std::memcpy(r.out, r.in, 24);
  put_le64(r.out + 8, a0);
  put_le64(r.out + 16, a1);
  *r.returned = 24;
  return true;
}

bool select_buffer(Request& r, uint32_t* err) {
  if (!sizes(r, 4, 0, err)) return false;
  uint32_t v = le32(r.in);
  arg(r, "buffer", v);
  if (v > 1) return fail(err, kErrInvalidParameter);
  r.cam.buffer_select = v;
  return true;
}

// Attach buffers: checks the record, then the camera exposes and sends one frame into
// the selected frame buffer while the caller waits (capture.cpp).
bool attach_buffers(Request& r, uint32_t* err) {
  if (!sizes(r, 64, 0, err)) return false;
  const uint8_t* p = r.in;
  uint64_t handle = le64(p);
  uint32_t frame_bytes = le32(p + 12);
  arg(r, "buffer", r.cam.buffer_select);
  arg(r, "bytes", frame_bytes);
  auto it = r.b.resources.find(handle);
  if (it == r.b.resources.end() || it->second.cam.lock() != r.hr->cam || le32(p + 8) != 1 ||
      frame_bytes == 0 || le64(p + 16) != 0 || le32(p + 24) != 1 || le32(p + 28) != frame_bytes ||
      le32(p + 32) != it->second.bytes_per_packet || le32(p + 36) != 1 || le32(p + 40) != 0 ||
      le32(p + 44) != 0 || le32(p + 48) != 1 || le32(p + 52) != 1)
    return fail(err, kErrInvalidParameter);
  Camera& cam = r.cam;
  if (!cam.frame_buffer[0] || frame_bytes > cam.frame_buffer_size || !cam.wait_set)
    return fail(err, kErrInvalidParameter);
  if (cam.capturing) return fail(err, kErrGenFailure);  // one frame at a time per camera
  // The camera is armed: the log says so now and how the wait ended later.
  append_log(cam.requests, std::string("attach") + r.args + "\n");
  r.name = "attach_done";
  r.args.clear();
  arg(r, "buffer", cam.buffer_select);
  bool ok = capture_frame(r.b, r.lk, *r.hr, cam, handle, frame_bytes, err);
  if (ok) arg(r, "frame", cam.frames_sent);
  return ok;
}

bool dispatch(Request& r, uint32_t* err) {
  switch (r.code) {
    case kIoRead:
    case kIoWrite: return read_write(r, err);
    case kIoAllocBandwidth: return alloc_bandwidth(r, err);
    case kIoAllocChannel: return alloc_channel(r, err);
    case kIoAllocResources: return alloc_resources(r, err);
    case kIoAttachBuffers: return attach_buffers(r, err);
    case kIoFreeBandwidth: return free_bandwidth(r, err);
    case kIoFreeChannel: return free_channel(r, err);
    case kIoFreeResources: return free_resources(r, err);
    case kIoStop: return stop_transfer(r, err);
    case kIoNodeAddress: return node_address(r, err);
    case kIoBusReset: return fail(err, kErrInvalidParameter);  // only as an overlapped request
    case kIoWaitSetup: return wait_setup(r, err);
    case kIoCancelWait: return cancel_wait(r, err);
    case kIoFrameBuffer: return frame_buffer(r, err);
    case kIoSelectBuffer: return select_buffer(r, err);
    default: return fail(err, kErrInvalidFunction);
  }
}

const char* request_name(uint32_t code) {
  switch (code) {
    case kIoAllocBandwidth: return "alloc_bandwidth";
    case kIoAllocChannel: return "alloc_channel";
    case kIoAllocResources: return "alloc_resources";
    case kIoAttachBuffers: return "attach";
    case kIoFreeBandwidth: return "free_bandwidth";
    case kIoFreeChannel: return "free_channel";
    case kIoFreeResources: return "free_resources";
    case kIoStop: return "stop";
    case kIoNodeAddress: return "node_address";
    case kIoWaitSetup: return "wait_setup";
    case kIoCancelWait: return "cancel_wait";
    case kIoFrameBuffer: return "frame_buffer";
    case kIoSelectBuffer: return "select";
    default: return nullptr;  // register reads and writes, bus-reset notifications, unknown codes
  }
}

// Runs a request on a camera's handle: the checks every request passes, then its handler.
bool serve(Request& r, bool overlapped, Overlapped* ov, bool* pend, uint32_t* err) {
  if ((r.in_len > 0 && r.in == nullptr) || (r.out_len > 0 && r.out == nullptr))
    return fail(err, kErrInvalidUserBuffer);
  if (!r.cam.attached) return fail(err, kErrDeviceNotConnected);
  uint32_t fault = 0;
  if (take_fault(r.cam.faults.ioctl, r.code, &fault)) return fail(err, fault);
  if (r.code == kIoBusReset && ov != nullptr && overlapped) {
    if (r.in_len != 0 || r.out_len != 0) return fail(err, kErrInvalidParameter);
    r.b.notifications.push_back(Pending{ov, r.handle});
    *pend = true;
    return fail(err, kErrIoPending);
  }
  if (r.in_len > sizeof r.rec) return fail(err, kErrInvalidParameter);
  if (r.in_len > 0) std::memcpy(r.rec, r.in, r.in_len);
  r.in = r.rec;
  return dispatch(r, err);
}

// Looks the handle up and runs the request. The camera's request log gets a line for every
// request but register reads and writes (the register trace has those) and bus-reset
// notifications (the monitor's timing is its own). Lock held through `lk`.
bool run_request(Bus& b, std::unique_lock<std::mutex>& lk, Handle h, uint32_t code, const void* in,
                 uint32_t in_len, void* out, uint32_t out_len, uint32_t* returned, uint32_t* err,
                 bool* pend, Overlapped* ov) {
  *returned = 0;
  auto it = b.handles.find(h);
  if (it == b.handles.end()) return fail(err, kErrInvalidHandle);
  std::shared_ptr<HandleRec> hr = it->second;
  Camera& cam = *hr->cam;
  const char* name = request_name(code);
  bool logged = name != nullptr || (code != kIoRead && code != kIoWrite && code != kIoBusReset);
  Request r{b,
            lk,
            hr,
            cam,
            h,
            code,
            static_cast<const uint8_t*>(in),
            in_len,
            static_cast<uint8_t*>(out),
            out_len,
            returned,
            name != nullptr ? name : "ioctl",
            {},
            {}};
  if (name == nullptr && logged) arg(r, "code", code, true);  // a code the driver does not know
  bool ok = serve(r, hr->overlapped, ov, pend, err);
  if (logged) {
    if (!ok) arg(r, "error", *err);
    append_log(cam.requests, r.name + r.args + "\n");
  }
  return ok;
}

}  // namespace

// ---- enumeration -----------------------------------------------------------------------

DeviceSet* open_set(const uint8_t guid[16], uint32_t flags, uint32_t* err) {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  uint32_t code = 0;
  if (take_fault(b.open_set_fault, &code)) {
    *err = code;
    return nullptr;
  }
  if (guid == nullptr) {
    *err = kErrInvalidParameter;
    return nullptr;
  }
  auto* set = new (std::nothrow) DeviceSet;
  if (set == nullptr) {
    *err = kErrNotEnoughMemory;
    return nullptr;
  }
  bool interfaces = (flags & 0x10) != 0;  // DIGCF_DEVICEINTERFACE
  // A camera unplugged with replug_after= whose time is up is plugged in again: a new
  // device with the same identity and settings, without faults.
  for (size_t i = 0, n = b.cameras.size(); i < n; ++i) {
    const Camera& old = *b.cameras[i];
    if (!old.replug_pending || Clock::now() < old.replug_at) continue;
    b.cameras[i]->replug_pending = false;
    auto cam = std::make_shared<Camera>();
    cam->id = static_cast<int>(b.cameras.size());
    cam->cfg = old.cfg;
    cam->node_address = old.node_address;
    cam->path = old.path;
    camera_power_on(*cam);
    b.cameras.push_back(std::move(cam));
    bus_reset_locked(b);
  }
  if (interfaces && std::memcmp(guid, kClassGuid, 16) == 0) {
    for (const auto& cam : b.cameras) {
      if (!cam->attached) continue;
      set->paths.push_back(cam->path);
      set->cams.push_back(cam);
    }
  }
  *err = 0;
  return set;
}

bool enum_interface(DeviceSet* set, uint32_t index, void* data, uint32_t* err) {
  if (set == nullptr) return fail(err, kErrInvalidHandle);
  if (data == nullptr) return fail(err, kErrInvalidUserBuffer);
  auto* d = static_cast<uint8_t*>(data);
  if (le32(d) != 32) return fail(err, kErrInvalidUserBuffer);
  if (index >= set->paths.size()) return fail(err, kErrNoMoreItems);
  std::memcpy(d + 4, kClassGuid, 16);
  put_le32(d + 20, 1);                                 // SPINT_ACTIVE
  put_le64(d + 24, static_cast<uint64_t>(index) + 1);  // reserved: which interface
  *err = 0;
  return true;
}

bool interface_detail(DeviceSet* set, const void* data, void* detail, uint32_t detail_size,
                      uint32_t* required, uint32_t* err) {
  if (set == nullptr) return fail(err, kErrInvalidHandle);
  if (data == nullptr) return fail(err, kErrInvalidParameter);
  const auto* d = static_cast<const uint8_t*>(data);
  uint64_t which = le64(d + 24);
  if (le32(d) != 32 || which == 0 || which > set->paths.size() ||
      std::memcmp(d + 4, kClassGuid, 16) != 0)
    return fail(err, kErrInvalidParameter);
  const std::string& path = set->paths[which - 1];
  uint32_t need = static_cast<uint32_t>(4 + path.size() + 1);
  if (required != nullptr) *required = need;
  if (detail == nullptr)
    return fail(err, detail_size == 0 ? kErrInsufficientBuffer : kErrInvalidUserBuffer);
  if (detail_size < 5) return fail(err, kErrInvalidUserBuffer);
  auto* out = static_cast<uint8_t*>(detail);
  if (le32(out) != 8) return fail(err, kErrInvalidUserBuffer);
  if (detail_size < need) return fail(err, kErrInsufficientBuffer);
  {
    Bus& b = bus();
    std::lock_guard<std::mutex> lk(b.mu);
    if (auto cam = set->cams[which - 1].lock()) {
      uint32_t code = 0;
      if (take_fault(cam->faults.detail, &code)) return fail(err, code);
    }
  }
  std::memcpy(out + 4, path.c_str(), path.size() + 1);
  *err = 0;
  return true;
}

void destroy_set(DeviceSet* set) { delete set; }

// ---- files and I/O control ----------------------------------------------------------------

Handle open(const char* path, bool overlapped, uint32_t* err) {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  if (path == nullptr) {
    *err = kErrInvalidParameter;
    return kInvalidHandle;
  }
  for (const auto& cam : b.cameras) {
    if (!cam->attached || cam->path != path) continue;
    uint32_t code = 0;
    if (take_fault(cam->faults.open, &code)) {
      *err = code;
      return kInvalidHandle;
    }
    auto hr = std::make_shared<HandleRec>();
    hr->cam = cam;
    hr->overlapped = overlapped;
    Handle h = b.next_handle;
    b.next_handle += 4;
    b.handles[h] = hr;
    *err = 0;
    return h;
  }
  *err = kErrFileNotFound;
  return kInvalidHandle;
}

bool close(Handle h, uint32_t* err) {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  auto it = b.handles.find(h);
  if (it == b.handles.end()) return fail(err, kErrInvalidHandle);
  it->second->closed = true;
  complete_handle(b, h, kErrOperationAborted);
  b.handles.erase(it);
  b.cv.notify_all();
  *err = 0;
  return true;
}

bool ioctl(Handle h, uint32_t code, const void* in, uint32_t in_len, void* out, uint32_t out_len,
           uint32_t* returned, uint32_t* err) {
  Bus& b = bus();
  std::unique_lock<std::mutex> lk(b.mu);
  uint32_t got = 0;
  bool pend = false;
  auto it = b.handles.find(h);
  if (it != b.handles.end() && it->second->overlapped)  // needs an OVERLAPPED record
    return fail(err, kErrInvalidParameter);
  bool ok = run_request(b, lk, h, code, in, in_len, out, out_len, &got, err, &pend, nullptr);
  if (returned != nullptr) *returned = got;
  if (ok) *err = 0;
  return ok;
}

bool ioctl_overlapped(Handle h, uint32_t code, const void* in, uint32_t in_len, void* out,
                      uint32_t out_len, Overlapped* ov, uint32_t* err) {
  if (ov == nullptr) return fail(err, kErrInvalidParameter);
  Bus& b = bus();
  std::unique_lock<std::mutex> lk(b.mu);
  uint32_t got = 0;
  bool pend = false;
  bool ok = run_request(b, lk, h, code, in, in_len, out, out_len, &got, err, &pend, ov);
  if (pend) return false;  // *err is kErrIoPending
  if (ok) *err = 0;
  ov->bytes.store(got);
  ov->status.store(ok ? 0 : *err);
  if (ok && ov->signal != nullptr) ov->signal(ov->ctx);
  return ok;
}

bool cancel_io(Handle h, uint32_t* err) {
  Bus& b = bus();
  std::lock_guard<std::mutex> lk(b.mu);
  if (b.handles.find(h) == b.handles.end()) return fail(err, kErrInvalidHandle);
  complete_handle(b, h, kErrOperationAborted);
  *err = 0;
  return true;
}

}  // namespace vcam
