// The virtual driver as strict as the real one: enumeration, open, records, buffers, overlapped.
#include <atomic>

#include "vcam_client.h"

namespace vcam_test {
namespace {

using Enumeration = VcamTest;

TEST_F(Enumeration, SizesClassesAndFlagsAreChecked) {
  ASSERT_EQ(ucap_vcam_attach("id=ABC"), 0);
  const std::string path = path_of_id("ABC");
  uint8_t other[16];
  std::memcpy(other, kGuid, 16);
  other[15] ^= 1;
  uint32_t err = 0;
  alignas(8) uint8_t data[32] = {};
  // Another class, a set without the interface flag, the end of the list: nothing listed.
  for (auto [guid, flags, i] : {std::tuple<const uint8_t*, uint32_t, uint32_t>{other, 0x12u, 0u},
                                {kGuid, 0x02u, 0u},
                                {kGuid, 0x12u, 1u}}) {
    vcam::DeviceSet* set = vcam::open_set(guid, flags, &err);
    ASSERT_NE(set, nullptr);
    put32(data, 32);
    EXPECT_FALSE(vcam::enum_interface(set, i, data, &err));
    EXPECT_EQ(err, vcam::kErrNoMoreItems);
    vcam::destroy_set(set);
  }
  vcam::DeviceSet* set = vcam::open_set(kGuid, 0x12, &err);
  put32(data, 28);
  EXPECT_FALSE(vcam::enum_interface(set, 0, data, &err));
  EXPECT_EQ(err, vcam::kErrInvalidUserBuffer);
  put32(data, 32);
  ASSERT_TRUE(vcam::enum_interface(set, 0, data, &err));

  uint32_t need = 0;
  EXPECT_FALSE(vcam::interface_detail(set, data, nullptr, 0, &need, &err));
  EXPECT_EQ(err, vcam::kErrInsufficientBuffer);
  EXPECT_EQ(need, 4 + path.size() + 1);

  std::vector<uint8_t> detail(need + 8, 0xCC);
  put32(detail.data(), 6);  // wrong cbSize
  EXPECT_FALSE(vcam::interface_detail(set, data, detail.data(), need, &need, &err));
  EXPECT_EQ(err, vcam::kErrInvalidUserBuffer);
  put32(detail.data(), 8);
  EXPECT_FALSE(vcam::interface_detail(set, data, detail.data(), need - 1, &need, &err));
  EXPECT_EQ(err, vcam::kErrInsufficientBuffer);
  EXPECT_EQ(detail[need - 1], 0xCC);  // nothing written when refused
  ASSERT_TRUE(vcam::interface_detail(set, data, detail.data(), need, &need, &err));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(detail.data() + 4)), path);
  EXPECT_EQ(detail[need], 0xCC);  // nothing beyond the required size

  alignas(8) uint8_t forged[32] = {};
  put32(forged, 32);
  EXPECT_FALSE(vcam::interface_detail(set, forged, detail.data(), need, &need, &err));
  EXPECT_EQ(err, vcam::kErrInvalidParameter);
  vcam::destroy_set(set);
}

TEST_F(Enumeration, OpenNeedsTheExactPathOfAnAttachedCamera) {
  ASSERT_EQ(ucap_vcam_attach("id=77 fail_open=2:32"), 0);
  std::string path = path_of_id("77");
  uint32_t err = 0;
  std::string upper = path;
  upper[9] = 'V';
  for (const std::string& wrong : {upper, path + "x", path.substr(0, path.size() - 1)}) {
    EXPECT_EQ(vcam::open(wrong.c_str(), false, &err), vcam::kInvalidHandle);
    EXPECT_EQ(err, vcam::kErrFileNotFound);
  }
  EXPECT_EQ(vcam::open(path.c_str(), false, &err), vcam::kInvalidHandle);
  EXPECT_EQ(err, 32u);
  EXPECT_EQ(vcam::open(path.c_str(), false, &err), vcam::kInvalidHandle);
  vcam::Handle h = vcam::open(path.c_str(), false, &err);
  ASSERT_NE(h, vcam::kInvalidHandle);
  EXPECT_TRUE(vcam::close(h, &err));
  EXPECT_FALSE(vcam::close(h, &err));
  EXPECT_EQ(err, vcam::kErrInvalidHandle);
}

class Records : public VcamTest {
 protected:
  void SetUp() override {
    VcamTest::SetUp();
    ASSERT_EQ(ucap_vcam_attach("id=9 node=7 uid=12345678"), 0);
    dev = std::make_unique<Device>(path_of_id("9"));
    ASSERT_TRUE(dev->ok());
  }
  std::unique_ptr<Device> dev;
};

TEST_F(Records, MalformedReadWriteRecordsAreRefused) {
  struct Case {
    const char* what;
    size_t offset;  // of a wrong 32-bit field (none: 40)
    uint32_t value, in, out;
  };
  const Case cases[] = {
      {"first mode word", 0, 1, 44, 44},   {"second mode word", 4, 0, 44, 44},
      {"node address", 8, 0xFFC6, 44, 44}, {"address high", 12, 0xFFFE, 44, 44},
      {"byte count", 20, 128, 44, 44},     {"block size", 24, 128, 44, 44},
      {"reserved 28", 28, 1, 44, 44},      {"reserved 32", 32, 1, 44, 44},
      {"short output", 40, 0, 44, 40},     {"block length, quadlet count", 40, 0, 168, 168},
      {"no data", 40, 0, 40, 40},          {"no input", 40, 0, 0, 44}};
  for (uint32_t code : {kRead, kWrite}) {
    for (const Case& c : cases) {
      auto r = dev->record(0xF0000410, 4);
      r.resize(168);
      put32(&r[c.offset], c.value);  // (the bytes above the 16-bit fields are zero anyway)
      uint32_t got = 0, err = 0;
      EXPECT_FALSE(vcam::ioctl(dev->handle(), code, c.in ? r.data() : nullptr, c.in ? c.in : 44,
                               r.data(), c.out, &got, &err))
          << c.what;
      EXPECT_EQ(err, c.in ? vcam::kErrInvalidParameter : vcam::kErrInvalidUserBuffer) << c.what;
    }
  }
  EXPECT_EQ(ucap_test::take_log(ucap_vcam_trace, 0), "");  // nothing reached the camera
}

TEST_F(Records, FixedLengthRequestsAndUnknownCodes) {
  const std::pair<uint32_t, std::pair<uint32_t, uint32_t>> lengths[] = {
      {kAllocBandwidth, {24, 24}}, {kAllocChannel, {16, 16}}, {kAllocResources, {40, 40}},
      {kAttach, {64, 0}},          {kFreeBandwidth, {8, 0}},  {kFreeChannel, {4, 0}},
      {kFreeResources, {8, 0}},    {kStop, {16, 0}},          {kNodeAddress, {8, 8}},
      {kWaitSetup, {20, 0}},       {kCancelWait, {0, 0}},     {kFrameBuffer, {24, 24}},
      {kSelectBuffer, {4, 0}}};
  for (const auto& [code, io] : lengths) {
    for (auto [in, out] :
         {std::pair{io.first + 4, io.second}, std::pair{io.first, io.second + 4}}) {
      std::vector<uint8_t> buf(64 + 8, 0);
      uint32_t got = 0, err = 0;
      EXPECT_FALSE(vcam::ioctl(dev->handle(), code, buf.data(), in, buf.data(), out, &got, &err))
          << std::hex << code;
      EXPECT_EQ(err, vcam::kErrInvalidParameter) << std::hex << code;
    }
  }
  uint8_t buf[8] = {};
  uint32_t got = 0, err = 0;
  EXPECT_FALSE(vcam::ioctl(dev->handle(), 0x222000, buf, 8, buf, 8, &got, &err));
  EXPECT_EQ(err, vcam::kErrInvalidFunction);
  EXPECT_FALSE(vcam::ioctl(dev->handle(), kBusReset, nullptr, 0, nullptr, 0, &got, &err));
  EXPECT_EQ(err, vcam::kErrInvalidParameter);  // only as an overlapped request
  EXPECT_FALSE(vcam::ioctl(dev->handle() + 1, kNodeAddress, buf, 8, buf, 8, &got, &err));
  EXPECT_EQ(err, vcam::kErrInvalidHandle);
}

TEST_F(Records, FrameBuffersAreTwoOwnedBlocksOfTheRequestedSize) {
  std::vector<uint8_t> rec = record32(24, {4096, 4097});
  uint32_t err = 0;
  EXPECT_FALSE(dev->request(kFrameBuffer, rec, 24, &err));
  EXPECT_EQ(err, vcam::kErrInvalidParameter);
  put32(&rec[4], 4096);
  ASSERT_TRUE(dev->request(kFrameBuffer, rec, 24, &err));
  auto* first = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get64(&rec[8])));
  auto* second = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(get64(&rec[16])));
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_EQ(first[0], 0);
  std::memset(first, 1, 4096);  // the whole block is ours to use
  std::memset(second, 2, 4096);
  EXPECT_EQ(vcam::frame_buffer_size(0), 4096u);

  std::vector<uint8_t> same = record32(24, {4096, 4096}), larger = record32(24, {8192, 8192});
  ASSERT_TRUE(dev->request(kFrameBuffer, same, 24, &err));
  EXPECT_EQ(get64(&same[8]), get64(&rec[8]));
  EXPECT_FALSE(dev->request(kFrameBuffer, larger, 24, &err));
  std::vector<uint8_t> release(24, 0);
  ASSERT_TRUE(dev->request(kFrameBuffer, release, 24, &err));
  EXPECT_EQ(get64(&release[8]), 0u);
  EXPECT_EQ(vcam::frame_buffer_size(0), 0u);
}

TEST_F(Enumeration, OverlappedHandlesNeedOverlappedRequests) {
  ASSERT_EQ(ucap_vcam_attach("id=1"), 0);
  std::atomic<int> signals{0};
  vcam::Overlapped ov;
  ov.signal = [](void* ctx) { static_cast<std::atomic<int>*>(ctx)->fetch_add(1); };
  ov.ctx = &signals;
  Device mon(path_of_id("1"), true);
  uint8_t rec[8] = {};
  uint32_t got = 0, err = 0;
  EXPECT_FALSE(vcam::ioctl(mon.handle(), kNodeAddress, rec, 8, rec, 8, &got, &err));
  EXPECT_EQ(err, vcam::kErrInvalidParameter);
  // Other requests complete at once on an overlapped handle, signalled.
  EXPECT_TRUE(vcam::ioctl_overlapped(mon.handle(), kNodeAddress, rec, 8, rec, 8, &ov, &err));
  EXPECT_EQ(ov.status.load(), 0u);
  EXPECT_EQ(ov.bytes.load(), 8u);
  EXPECT_EQ(signals.load(), 1);
  EXPECT_FALSE(vcam::ioctl_overlapped(mon.handle(), kBusReset, rec, 4, nullptr, 0, &ov, &err));
  EXPECT_EQ(err, vcam::kErrInvalidParameter);
}

}  // namespace
}  // namespace vcam_test
