#include "device/requests.h"

#include <array>
#include <cstring>

#include "core/errors.h"
#include "device/bytes.h"

namespace ucap::device {

namespace {

constexpr uint32_t kRecordHeader = 36;  // data starts at this offset
// The record length the driver is given: 40 + byte count (44 for a quadlet, 168 for a block).
constexpr uint32_t record_length(uint32_t count) { return 40 + count; }
constexpr uint32_t kQuadletBytes = 4;
constexpr uint32_t kQuadletRecord = record_length(kQuadletBytes);
constexpr uint32_t kBlockRecord = record_length(kBlockBytes);
constexpr int kAttempts = 3;
constexpr uint32_t kRetrySleepMs = 10;
constexpr uint32_t kPollSleepMs = 1;
constexpr uint32_t kFirstModeWord = 0;
constexpr uint32_t kSecondModeWord = 1;
constexpr uint32_t kQuadletBlockSize = 0;   // the block size field of a quadlet request
constexpr uint32_t kAccessLapsed = 0xFFFF;  // upper half of vendor 0x000 once access lapsed

// Win32 codes of requests that never reach the driver or that it fails without a code.
constexpr uint32_t kErrorInvalidHandle = 6;  // ERROR_INVALID_HANDLE
constexpr uint32_t kErrorGenFailure = 31;    // ERROR_GEN_FAILURE

// Read/write record of an asynchronous request: 36 header bytes, then the data.
void fill_record(uint8_t* record, const CameraRecord& cam, uint32_t address, uint32_t count) {
  std::memset(record, 0, record_length(count));
  put_u32(record + 0, kFirstModeWord);
  put_u32(record + 4, kSecondModeWord);
  put_u16(record + 8, node_address(cam));
  put_u16(record + 12, kAddressHigh);
  put_u32(record + 16, address);
  put_u32(record + 20, count);
  put_u32(record + 24, count == kQuadletBytes ? kQuadletBlockSize : count);
}

// A read/write request: the same record goes in and comes back.
uint32_t send(platform::DeviceHandle handle, uint32_t code, uint8_t* record, uint32_t length) {
  return driver_request(handle, code, record, length, length);
}

// One attempt of a quadlet write.
uint32_t write_once(CameraRecord& cam, uint32_t address, uint32_t value) {
  uint8_t record[kQuadletRecord];
  fill_record(record, cam, address, kQuadletBytes);
  put_bus_quadlet(record + kRecordHeader, value);
  return send(cam.device, kIoctlWrite, record, kQuadletRecord);
}

// Up to three attempts with 10 ms sleeps between them. `between` runs after each failed
// attempt's sleep, before the next attempt.
template <typename Between>
uint32_t with_retries(platform::DeviceHandle handle, uint32_t code, uint8_t* record,
                      uint32_t length, Between&& between) {
  uint32_t result = 0;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    result = send(handle, code, record, length);
    if (result == 0) return 0;
    if (attempt + 1 < kAttempts) {
      platform::sleep_ms(kRetrySleepMs);
      between();
    }
  }
  return result;
}

}  // namespace

uint32_t quadlet_read(CameraRecord& cam, uint32_t address, uint32_t* value) {
  uint8_t record[kQuadletRecord];
  fill_record(record, cam, address, kQuadletBytes);
  uint32_t r = with_retries(cam.device, kIoctlRead, record, kQuadletRecord, [] {});
  if (r == 0 && value != nullptr) *value = get_bus_quadlet(record + kRecordHeader);
  return r;
}

uint32_t quadlet_write(CameraRecord& cam, uint32_t address, uint32_t value) {
  uint8_t record[kQuadletRecord];
  auto prepare = [&] {
    fill_record(record, cam, address, kQuadletBytes);
    put_bus_quadlet(record + kRecordHeader, value);
  };
  prepare();
  auto reopen_if_lapsed = [&] {
    uint32_t access = 0;
    if (quadlet_read(cam, vendor(cam, kVendorAccess), &access) == 0 &&
        (access >> 16) == kAccessLapsed) {
      // Reopened with single attempts: the access value, then, if it went through, the
      // time-out word.
      if (write_once(cam, vendor(cam, kVendorAccess), kVendorAccessValue) == 0)
        write_once(cam, vendor(cam, kVendorAccessTimeout), kVendorAccessTimeoutValue);
    }
    prepare();
  };
  return with_retries(cam.device, kIoctlWrite, record, kQuadletRecord, reopen_if_lapsed);
}

uint32_t block_read(CameraRecord& cam, uint32_t address, uint8_t* data) {
  uint8_t record[kBlockRecord];
  fill_record(record, cam, address, kBlockBytes);
  uint32_t r = with_retries(cam.device, kIoctlRead, record, kBlockRecord, [] {});
  if (r == 0) std::memcpy(data, record + kRecordHeader, kBlockBytes);
  return r;
}

uint32_t block_write(CameraRecord& cam, uint32_t address, const uint8_t* data) {
  uint8_t record[kBlockRecord];
  fill_record(record, cam, address, kBlockBytes);
  std::memcpy(record + kRecordHeader, data, kBlockBytes);
  return with_retries(cam.device, kIoctlWrite, record, kBlockRecord, [] {});
}

uint32_t cancel_write(CameraRecord& cam, platform::DeviceHandle handle, uint32_t address) {
  uint8_t record[kQuadletRecord];
  fill_record(record, cam, address, kQuadletBytes);
  put_bus_quadlet(record + kRecordHeader, 0);
  return with_retries(handle, kIoctlWrite, record, kQuadletRecord, [] {});
}

uint32_t driver_request(platform::DeviceHandle handle, uint32_t code, uint8_t* record,
                        uint32_t in_len, uint32_t out_len) {
  if (!platform::device_valid(handle)) return kErrorInvalidHandle;
  uint32_t returned = 0;
  if (platform::device_io_control(handle, code, in_len ? record : nullptr, in_len,
                                  out_len ? record : nullptr, out_len, &returned))
    return 0;
  const uint32_t e = platform::last_error();
  return e != 0 ? e : kErrorGenFailure;
}

VendorAccess::VendorAccess(CameraRecord& cam) : cam_(cam), result_(0), held_(false) {
  result_ = quadlet_write(cam, vendor(cam, kVendorAccess), kVendorAccessValue);
  if (result_ == 0)
    result_ = quadlet_write(cam, vendor(cam, kVendorAccessTimeout), kVendorAccessTimeoutValue);
  held_ = result_ == 0;
}

VendorAccess::~VendorAccess() { release(); }

void VendorAccess::release() {
  if (!held_) return;
  held_ = false;
  quadlet_write(cam_, vendor(cam_, kVendorAccess), kVendorRelease);  // result not checked
}

int32_t poll_command(CameraRecord& cam, uint32_t address, const CommandPoll& how) {
  for (uint32_t reads = 1;; ++reads) {
    uint32_t v = 0;
    if (quadlet_read(cam, address, &v) != 0) return err::kRead;
    if (v & how.error_bit) return err::kArgument;
    const bool busy = (v & how.busy_bits) != 0;
    if (busy || !how.sleep_only_while_busy) platform::sleep_ms(kPollSleepMs);
    if (!busy) return 0;
    if (reads >= how.max_reads) return err::kRead;
  }
}

int32_t poll_memory_command(VendorAccess& access, uint32_t max_reads) {
  CommandPoll how = kMemoryCommandPoll;
  how.max_reads = max_reads;
  CameraRecord& cam = access.camera();
  const int32_t c = poll_command(cam, vendor(cam, kVendorMemoryCommand), how);
  if (c == err::kArgument) access.release();
  return c;
}

int32_t frame_buffer_request(CameraRecord& cam, uint32_t size, uint8_t** first, uint8_t** second) {
  uint8_t record[24] = {};
  put_u32(record + 0, size);
  put_u32(record + 4, size);
  if (driver_request(cam.device, kIoctlFrameBuffer, record, sizeof record, sizeof record) != 0)
    return err::kNoMemory;
  if (first != nullptr)
    *first = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get_u64(record + 8)));
  if (second != nullptr)
    *second = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get_u64(record + 16)));
  return 0;
}

uint32_t cancel_capture_wait(platform::DeviceHandle handle) {
  return driver_request(handle, kIoctlCancelCaptureWait, nullptr, 0, 0);
}

namespace {

constexpr uint32_t kAnyChannel = 0xFFFFFFFF;
constexpr uint32_t kResourceFlags = 9;

// A request whose record goes in and comes back (`Out`) or only goes in.
enum class Answer { kNone, kOut };
template <size_t N>
uint32_t send_record(CameraRecord& cam, uint32_t code, std::array<uint8_t, N>& record,
                     Answer answer) {
  const uint32_t n = static_cast<uint32_t>(N);
  return driver_request(cam.device, code, record.data(), n, answer == Answer::kOut ? n : 0);
}

// Records that carry one 64-bit driver handle and nothing else.
uint32_t send_handle(CameraRecord& cam, uint32_t code, uint64_t handle) {
  std::array<uint8_t, 8> r{};
  put_u64(r.data(), handle);
  return send_record(cam, code, r, Answer::kNone);
}

}  // namespace

uint16_t request_node_address(platform::DeviceHandle handle) {
  std::array<uint8_t, 8> r{};
  uint32_t returned = 0;
  platform::device_io_control(handle, kIoctlGetNodeAddress, r.data(), r.size(), r.data(), r.size(),
                              &returned);
  return get_u16(r.data() + 4);
}

uint32_t request_capture_wait(CameraRecord& cam, uint32_t kind, uint32_t timeout_ms,
                              uint32_t register_address) {
  std::array<uint8_t, 20> r{};
  put_u32(r.data() + 0, kind);
  put_u32(r.data() + 4, timeout_ms);
  put_u16(r.data() + 8, node_address(cam));
  put_u16(r.data() + 12, kAddressHigh);
  put_u32(r.data() + 16, register_address);
  return send_record(cam, kIoctlCaptureWaitSetup, r, Answer::kNone);
}

uint32_t request_alloc_bandwidth(CameraRecord& cam, uint32_t bytes_per_packet, uint64_t* handle) {
  std::array<uint8_t, 24> r{};
  put_u32(r.data() + 0, bytes_per_packet);
  put_u32(r.data() + 4, kSpeedCode);
  const uint32_t result = send_record(cam, kIoctlAllocBandwidth, r, Answer::kOut);
  if (result == 0) *handle = get_u64(r.data() + 8);
  return result;
}

uint32_t request_alloc_channel(CameraRecord& cam, uint32_t* channel) {
  std::array<uint8_t, 16> r{};
  put_u32(r.data() + 0, kAnyChannel);
  const uint32_t result = send_record(cam, kIoctlAllocChannel, r, Answer::kOut);
  if (result == 0) *channel = get_u32(r.data() + 4);
  return result;
}

uint32_t request_alloc_resources(CameraRecord& cam, uint32_t channel, uint32_t bytes_per_packet,
                                 uint32_t frame_bytes, uint64_t* handle) {
  const bool split = frame_bytes > kSplitFrameBytes;
  std::array<uint8_t, 40> r{};
  put_u32(r.data() + 0, kSpeedCode);
  put_u32(r.data() + 4, kResourceFlags);
  put_u32(r.data() + 8, channel);
  put_u32(r.data() + 12, bytes_per_packet);
  put_u32(r.data() + 16, split ? 2 : 1);
  put_u32(r.data() + 20, split ? kSplitBufferBytes : frame_bytes);
  put_u32(r.data() + 24, 1);
  const uint32_t result = send_record(cam, kIoctlAllocResources, r, Answer::kOut);
  if (result == 0) *handle = get_u64(r.data() + 32);
  return result;
}

uint32_t request_buffer_select(CameraRecord& cam, uint32_t second) {
  std::array<uint8_t, 4> r{};
  put_u32(r.data(), second);
  return send_record(cam, kIoctlBufferSelect, r, Answer::kNone);
}

uint32_t request_attach_buffers(CameraRecord& cam, uint64_t resource, uint32_t frame_bytes,
                                uint32_t bytes_per_packet) {
  std::array<uint8_t, 64> r{};
  put_u64(r.data() + 0, resource);
  put_u32(r.data() + 8, 1);
  put_u32(r.data() + 12, frame_bytes);
  put_u64(r.data() + 16, 0);
  put_u32(r.data() + 24, 1);
  put_u32(r.data() + 28, frame_bytes);
  put_u32(r.data() + 32, bytes_per_packet);
  put_u32(r.data() + 36, 1);
  put_u32(r.data() + 40, 0);
  put_u32(r.data() + 44, 0);
  put_u32(r.data() + 48, 1);
  put_u32(r.data() + 52, 1);
  return send_record(cam, kIoctlAttachBuffers, r, Answer::kNone);
}

uint32_t request_stop_transfer(CameraRecord& cam, uint64_t resource) {
  std::array<uint8_t, 16> r{};
  put_u64(r.data() + 0, resource);
  return send_record(cam, kIoctlStopTransfer, r, Answer::kNone);
}

uint32_t request_free_resources(CameraRecord& cam, uint64_t resource) {
  return send_handle(cam, kIoctlFreeResources, resource);
}

uint32_t request_free_bandwidth(CameraRecord& cam, uint64_t bandwidth) {
  return send_handle(cam, kIoctlFreeBandwidth, bandwidth);
}

uint32_t request_free_channel(CameraRecord& cam, uint32_t channel) {
  std::array<uint8_t, 4> r{};
  put_u32(r.data(), channel);
  return send_record(cam, kIoctlFreeChannel, r, Answer::kNone);
}

}  // namespace ucap::device
