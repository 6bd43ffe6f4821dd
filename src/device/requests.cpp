#include "device/requests.h"

#include <cstring>

#include "core/errors.h"
#include "device/bytes.h"

namespace ucap::device {

namespace {

constexpr uint32_t kRecordHeader = 36;  // data starts at this offset
// The record length the driver is given: 40 + byte count (44 for a quadlet, 168 for a block).
constexpr uint32_t record_length(uint32_t count) { return 40 + count; }
constexpr uint32_t kQuadletRecord = record_length(4);
constexpr uint32_t kBlockRecord = record_length(kBlockBytes);
constexpr int kAttempts = 3;
constexpr uint32_t kRetrySleepMs = 10;

// Read/write record of an asynchronous request: 36 header bytes, then the data.
void fill_record(uint8_t* record, const CameraRecord& cam, uint32_t address, uint32_t count) {
  std::memset(record, 0, record_length(count));
  put_u32(record + 0, 0);
  put_u32(record + 4, 1);
  put_u16(record + 8, node_address(cam));
  put_u16(record + 12, 0xFFFF);
  put_u32(record + 16, address);
  put_u32(record + 20, count);
  put_u32(record + 24, count == 4 ? 0 : count);
}

// One synchronous request; 0 or the last-error code.
uint32_t send(platform::DeviceHandle handle, uint32_t code, uint8_t* record, uint32_t length) {
  if (!platform::device_valid(handle)) return 6;  // ERROR_INVALID_HANDLE
  uint32_t returned = 0;
  if (platform::device_io_control(handle, code, record, length, record, length, &returned)) return 0;
  uint32_t e = platform::last_error();
  return e != 0 ? e : 31;  // a refusal without a code still counts as a failure
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
  fill_record(record, cam, address, 4);
  uint32_t r = with_retries(cam.device, kIoctlRead, record, kQuadletRecord, [] {});
  if (r == 0 && value != nullptr) *value = get_bus_quadlet(record + kRecordHeader);
  return r;
}

uint32_t quadlet_write(CameraRecord& cam, uint32_t address, uint32_t value) {
  uint8_t record[kQuadletRecord];
  auto prepare = [&] {
    fill_record(record, cam, address, 4);
    put_bus_quadlet(record + kRecordHeader, value);
  };
  prepare();
  auto reopen_if_lapsed = [&] {
    uint32_t access = 0;
    if (quadlet_read(cam, vendor(cam, kVendorAccess), &access) == 0 && (access >> 16) == 0xFFFF) {
      uint8_t open_record[kQuadletRecord];
      fill_record(open_record, cam, vendor(cam, kVendorAccess), 4);
      put_bus_quadlet(open_record + kRecordHeader, kVendorAccessValue);
      if (send(cam.device, kIoctlWrite, open_record, kQuadletRecord) == 0) {
        fill_record(open_record, cam, vendor(cam, kVendorAccessTimeout), 4);
        put_bus_quadlet(open_record + kRecordHeader, kVendorAccessTimeoutValue);
        send(cam.device, kIoctlWrite, open_record, kQuadletRecord);
      }
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
  fill_record(record, cam, address, 4);
  put_bus_quadlet(record + kRecordHeader, 0);
  return with_retries(handle, kIoctlWrite, record, kQuadletRecord, [] {});
}

uint32_t vendor_open(CameraRecord& cam) {
  uint32_t r = quadlet_write(cam, vendor(cam, kVendorAccess), kVendorAccessValue);
  if (r != 0) return r;
  return quadlet_write(cam, vendor(cam, kVendorAccessTimeout), kVendorAccessTimeoutValue);
}

void vendor_release(CameraRecord& cam) {
  quadlet_write(cam, vendor(cam, kVendorAccess), kVendorRelease);
}

int32_t poll_memory_command(CameraRecord& cam) {
  const uint32_t address = vendor(cam, kVendorMemoryCommand);
  for (;;) {
    uint32_t v = 0;
    if (quadlet_read(cam, address, &v) != 0) return err::kRead;
    if (v & (1u << 29)) {
      vendor_release(cam);
      return err::kArgument;
    }
    platform::sleep_ms(1);
    if ((v & (3u << 30)) == 0) return 0;
  }
}

int32_t poll_mode_apply(CameraRecord& cam, uint32_t address) {
  for (;;) {
    uint32_t v = 0;
    if (quadlet_read(cam, address, &v) != 0) return err::kRead;
    if (v & (1u << 23)) return err::kArgument;
    if ((v & (1u << 30)) == 0) return 0;
    platform::sleep_ms(1);
  }
}

int32_t poll_apply_settings(CameraRecord& cam, uint32_t address) {
  for (;;) {
    uint32_t v = 0;
    if (quadlet_read(cam, address, &v) != 0) return err::kRead;
    if (v & (1u << 23)) return err::kArgument;
    platform::sleep_ms(1);
    if ((v & (1u << 30)) == 0) return 0;
  }
}

int32_t frame_buffer_request(CameraRecord& cam, uint32_t size, uint8_t** first, uint8_t** second) {
  uint8_t record[24] = {};
  put_u32(record + 0, size);
  put_u32(record + 4, size);
  if (send(cam.device, kIoctlFrameBuffer, record, sizeof record) != 0) return err::kNoMemory;
  if (first != nullptr) *first = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get_u64(record + 8)));
  if (second != nullptr) *second = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get_u64(record + 16)));
  return 0;
}

uint32_t cancel_capture_wait(platform::DeviceHandle handle) {
  if (!platform::device_valid(handle)) return 6;
  uint32_t returned = 0;
  if (platform::device_io_control(handle, kIoctlCancelCaptureWait, nullptr, 0, nullptr, 0, &returned))
    return 0;
  uint32_t e = platform::last_error();
  return e != 0 ? e : 31;
}

}  // namespace ucap::device
