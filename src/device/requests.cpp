#include "device/requests.h"

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
constexpr uint32_t kQuadletBlockSize = 0;  // the block size field of a quadlet request
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
    if (quadlet_read(cam, vendor(cam, kVendorAccess), &access) == 0 && (access >> 16) == kAccessLapsed) {
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
  if (result_ == 0) result_ = quadlet_write(cam, vendor(cam, kVendorAccessTimeout), kVendorAccessTimeoutValue);
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
  if (first != nullptr) *first = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get_u64(record + 8)));
  if (second != nullptr) *second = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get_u64(record + 16)));
  return 0;
}

uint32_t cancel_capture_wait(platform::DeviceHandle handle) {
  return driver_request(handle, kIoctlCancelCaptureWait, nullptr, 0, 0);
}

}  // namespace ucap::device
