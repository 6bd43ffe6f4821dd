// A minimal client of the virtual driver for the vcam tests: builds the request records
// byte by byte, independently of the library's own request code.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/trace.h"
#include "ucap/vcam.h"
#include "vcam/driver.h"
#include "vcam/probe.h"

namespace vcam_test {

inline constexpr uint8_t kGuid[16] = {0x55, 0xDF, 0x59, 0xC4, 0x08, 0xDB, 0xD1, 0x11,
                                      0xB0, 0x09, 0x00, 0xA0, 0xC9, 0x08, 0x1F, 0xF6};
inline constexpr uint32_t kRead = 0x222008, kWrite = 0x22200C, kAllocBandwidth = 0x222014,
                          kAllocChannel = 0x222018, kAllocResources = 0x22201C, kAttach = 0x222020,
                          kFreeBandwidth = 0x222028, kFreeChannel = 0x22202C,
                          kFreeResources = 0x222030, kStop = 0x222044, kNodeAddress = 0x222050,
                          kBusReset = 0x2220C8, kWaitSetup = 0x2220F0, kCancelWait = 0x2220F4,
                          kFrameBuffer = 0x222104, kSelectBuffer = 0x222108;
inline constexpr uint32_t kCmd = vcam::kCommandRegisters;
inline constexpr uint32_t kVendor = vcam::kVendorRegisters;
inline uint32_t mode_block(int m) {
  return vcam::kModeRegisters + 0x100u * static_cast<uint32_t>(m);
}

inline void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint64_t get64(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
// A request record of `size` bytes starting with the little-endian 32-bit `words`.
inline std::vector<uint8_t> record32(size_t size, std::initializer_list<uint32_t> words) {
  std::vector<uint8_t> r(size, 0);
  size_t at = 0;
  for (uint32_t w : words) put32(&r[at], w), at += 4;
  return r;
}
// A record of `size` bytes starting with a 64-bit handle.
inline std::vector<uint8_t> record64(size_t size, uint64_t handle) {
  return record32(size, {static_cast<uint32_t>(handle), static_cast<uint32_t>(handle >> 32)});
}

// Every listed path of the interface class, in enumeration order.
inline std::vector<std::string> list_paths() {
  std::vector<std::string> paths;
  uint32_t err = 0;
  vcam::DeviceSet* set = vcam::open_set(kGuid, 0x12, &err);
  if (set == nullptr) return paths;
  for (uint32_t i = 0;; ++i) {
    alignas(8) uint8_t data[32] = {};
    put32(data, 32);
    if (!vcam::enum_interface(set, i, data, &err)) break;
    uint32_t need = 0;
    vcam::interface_detail(set, data, nullptr, 0, &need, &err);
    std::vector<uint8_t> detail(need);
    put32(detail.data(), 8);
    if (!vcam::interface_detail(set, data, detail.data(), need, &need, &err)) break;
    paths.emplace_back(reinterpret_cast<const char*>(detail.data() + 4));
  }
  vcam::destroy_set(set);
  return paths;
}

// An open device handle with the register operations.
class Device {
 public:
  explicit Device(const std::string& path, bool overlapped = false) {
    uint32_t err = 0;
    h_ = vcam::open(path.c_str(), overlapped, &err);
    if (h_ != vcam::kInvalidHandle && !overlapped) {
      uint8_t rec[8] = {};
      uint32_t got = 0;
      if (vcam::ioctl(h_, kNodeAddress, rec, 8, rec, 8, &got, &err))
        node = static_cast<uint16_t>(rec[4] | rec[5] << 8);
    }
  }
  ~Device() {
    uint32_t err = 0;
    if (h_ != vcam::kInvalidHandle) vcam::close(h_, &err);
  }
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  bool ok() const { return h_ != vcam::kInvalidHandle; }
  vcam::Handle handle() const { return h_; }

  // Read/write record of 44 or 168 bytes.
  std::vector<uint8_t> record(uint32_t address, uint32_t count) const {
    return record32(40 + count, {0, 1, node, 0xFFFF, address, count, count == 4 ? 0u : 128u});
  }
  bool request(uint32_t code, std::vector<uint8_t>& in, uint32_t out_len, uint32_t* err) {
    uint32_t got = 0;
    if (out_len > in.size()) in.resize(out_len);
    return vcam::ioctl(h_, code, in.data(), static_cast<uint32_t>(in.size()),
                       out_len ? in.data() : nullptr, out_len, &got, err);
  }
  // One read or write record: `count` bytes (4, a quadlet in bus byte order, or a block of
  // 128) from `in` or into `out`.
  bool transfer(uint32_t code, uint32_t address, uint32_t count, const uint8_t* in, uint8_t* out,
                uint32_t* err) {
    auto r = record(address, count);
    if (in != nullptr) std::memcpy(&r[36], in, count);
    uint32_t e = 0, got = 0;
    const bool ok = vcam::ioctl(h_, code, r.data(), 40 + count, r.data(), 40 + count, &got, &e);
    if (err) *err = e;
    if (ok && out != nullptr) std::memcpy(out, &r[36], count);
    return ok;
  }
  bool read(uint32_t address, uint32_t* value, uint32_t* err = nullptr) {
    uint8_t b[4];
    if (!transfer(kRead, address, 4, nullptr, b, err)) return false;
    *value = static_cast<uint32_t>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    return true;
  }
  uint32_t read(uint32_t address) {
    uint32_t v = 0xDEADBEEF;
    EXPECT_TRUE(read(address, &v)) << std::hex << address;
    return v;
  }
  bool write(uint32_t address, uint32_t value, uint32_t* err = nullptr) {
    const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    return transfer(kWrite, address, 4, b, nullptr, err);
  }
  void open_access() {
    ASSERT_TRUE(write(kVendor, 0x0007C2A5));
    ASSERT_TRUE(write(kVendor + 4, 0xFFF));
  }
  // Writes a command and polls it until the given busy bits clear; returns the final value.
  uint32_t command(uint32_t address, uint32_t value, uint32_t busy) {
    EXPECT_TRUE(write(address, value));
    uint32_t v = 0;
    for (int n = 0; n < 100 && (n == 0 || (v & busy) != 0); ++n) {
      if (n > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (!read(address, &v)) return 0xFFFFFFFF;
    }
    return v;
  }

  uint16_t node = 0;

 private:
  vcam::Handle h_ = vcam::kInvalidHandle;
};

// Path of the attached camera with this id field, as the driver lists it.
inline std::string path_of_id(const std::string& id_field) {
  return "\\\\?\\1394#vela_optic&tessera_lx20#" + id_field +
         "#{c459df55-db08-11d1-b009-00a0c9081ff6}";
}

// Fixture: a clean bus.
class VcamTest : public ::testing::Test {
 protected:
  void SetUp() override { ucap_vcam_reset(); }
  void TearDown() override { ucap_vcam_reset(); }
};

}  // namespace vcam_test
