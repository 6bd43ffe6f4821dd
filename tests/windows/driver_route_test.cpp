// The device half of the Win32 platform layer as the product DLL has it (no virtual
// camera): SetupDi enumeration, CreateFileA, DeviceIoControl with and without an
// OVERLAPPED record, GetOverlappedResult and CancelIo against the real system. Without
// the camera's 1394 driver, kernel objects of the system stand in for it: the display
// adapter's device interface for enumeration and a named pipe for I/O control requests
// that complete at once, stay pending, complete later or are cancelled.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace {

namespace pf = ucap::platform;

// Named-pipe file system controls (ntifs.h, which user-mode headers do not carry).
constexpr uint32_t kPipeListen =
    CTL_CODE(FILE_DEVICE_NAMED_PIPE, 2, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr uint32_t kPipePeek = CTL_CODE(FILE_DEVICE_NAMED_PIPE, 3, METHOD_BUFFERED, FILE_READ_DATA);
struct PipePeek {
  ULONG state;
  ULONG read_data_available;
  ULONG messages;
  ULONG message_length;
  // the peeked data would follow
};

// ---- enumeration ----------------------------------------------------------------------------

pf::Guid guid_bytes(const GUID& g) {
  pf::Guid out{};
  std::memcpy(out.bytes, &g, sizeof out.bytes);
  return out;
}

TEST(Win32DriverRoute, CameraClassWithoutDriverEnumeratesNothing) {
  // {C459DF55-DB08-11D1-B009-00A0C9081FF6} as stored in memory.
  const pf::Guid camera_class = {{0x55, 0xDF, 0x59, 0xC4, 0x08, 0xDB, 0xD1, 0x11, 0xB0, 0x09, 0x00,
                                  0xA0, 0xC9, 0x08, 0x1F, 0xF6}};
  pf::DeviceInfoSet* set = pf::get_class_devs(camera_class);
  ASSERT_NE(set, nullptr);
  pf::InterfaceData data{};
  data.size = 32;
  EXPECT_FALSE(pf::enum_device_interface(set, camera_class, 0, &data));
  EXPECT_EQ(pf::last_error(), static_cast<uint32_t>(ERROR_NO_MORE_ITEMS));
  pf::destroy_device_info_list(set);
}

TEST(Win32DriverRoute, InterfaceDetailTakesTwoCallsAndSizeFieldEight) {
  // GUID_DEVINTERFACE_DISPLAY_ADAPTER: present on Windows and under Wine, display or not.
  const GUID display = {
      0x5b45201d, 0xf2f2, 0x4f3b, {0x85, 0xbb, 0x30, 0xff, 0x1f, 0x95, 0x35, 0x99}};
  const pf::Guid cls = guid_bytes(display);
  pf::DeviceInfoSet* set = pf::get_class_devs(cls);
  ASSERT_NE(set, nullptr);
  pf::InterfaceData data{};
  data.size = 32;
  if (!pf::enum_device_interface(set, cls, 0, &data)) {
    pf::destroy_device_info_list(set);
    GTEST_SKIP() << "this system lists no display adapter interface";
  }
  // First call: no buffer, fails and tells the size.
  uint32_t required = 0;
  EXPECT_FALSE(pf::get_interface_detail(set, &data, nullptr, 0, &required));
  EXPECT_EQ(pf::last_error(), static_cast<uint32_t>(ERROR_INSUFFICIENT_BUFFER));
  ASSERT_GT(required, pf::kDetailPathOffset + 4);
  // Second call: a zero-filled buffer of that size whose size field is 8.
  auto* detail = static_cast<unsigned char*>(pf::local_alloc(required));
  ASSERT_NE(detail, nullptr);
  const uint32_t size_field = pf::kDetailSizeField;
  std::memcpy(detail, &size_field, sizeof size_field);
  uint32_t again = 0;
  EXPECT_FALSE(pf::get_interface_detail(set, &data, detail, required - 1, &again))
      << "one byte short must be refused";
  EXPECT_TRUE(pf::get_interface_detail(set, &data, detail, required, &again));
  const char* path = reinterpret_cast<const char*>(detail + pf::kDetailPathOffset);
  EXPECT_EQ(std::string(path, 4), "\\\\?\\");
  EXPECT_EQ(pf::kDetailPathOffset + std::strlen(path) + 1, required);
  pf::local_free(detail);
  pf::destroy_device_info_list(set);
}

// ---- files and I/O control -------------------------------------------------------------------

TEST(Win32DriverRoute, MissingDeviceGivesTheInvalidHandleAndALastError) {
  SetLastError(0);
  pf::DeviceHandle h = pf::open_device("\\\\?\\1394#vela_optic&tessera_lx20#0000#{none}", true);
  EXPECT_EQ(h, pf::kInvalidDevice);
  EXPECT_FALSE(pf::device_valid(h));
  EXPECT_NE(pf::last_error(), 0u);
  uint32_t returned = 77;
  EXPECT_FALSE(pf::device_io_control(h, 0x222008, nullptr, 0, nullptr, 0, &returned));
  EXPECT_EQ(pf::last_error(), static_cast<uint32_t>(ERROR_INVALID_HANDLE));
}

class PipeRequests : public ::testing::Test {
 protected:
  void SetUp() override {
    name_ = "\\\\.\\pipe\\ucap-driver-route-" + std::to_string(GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_ = CreateNamedPipeA(name_.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                               PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(server_, INVALID_HANDLE_VALUE);
    event_ = pf::create_event(true, false);
    ASSERT_NE(event_, nullptr);
    ov_ = pf::create_overlapped(event_);
    ASSERT_NE(ov_, nullptr);
  }
  void TearDown() override {
    if (client_ != pf::kInvalidDevice) pf::close_device(client_);
    if (server_ != INVALID_HANDLE_VALUE) pf::close_device(server_);
    pf::destroy_overlapped(ov_);
    pf::close_event(event_);
  }
  // Waiting for a client: an overlapped request that stays pending until one connects.
  bool listen() {
    return pf::device_io_control_overlapped(server_, kPipeListen, nullptr, 0, nullptr, 0, ov_);
  }
  void connect_client() {
    client_ = pf::open_device(name_.c_str(), false);
    ASSERT_TRUE(pf::device_valid(client_)) << pf::last_error();
  }
  std::string name_;
  HANDLE server_ = INVALID_HANDLE_VALUE;
  pf::DeviceHandle client_ = pf::kInvalidDevice;
  pf::Event* event_ = nullptr;
  pf::Overlapped* ov_ = nullptr;
};

TEST_F(PipeRequests, PendingRequestCompletesLaterAndSignalsItsEvent) {
  EXPECT_FALSE(listen());
  ASSERT_EQ(pf::last_error(), pf::kErrorIoPending);
  uint32_t bytes = 99;
  EXPECT_FALSE(pf::get_overlapped_result(server_, ov_, &bytes, false));
  EXPECT_EQ(pf::last_error(), static_cast<uint32_t>(ERROR_IO_INCOMPLETE));
  EXPECT_FALSE(pf::wait_event(event_, 0));
  connect_client();
  EXPECT_TRUE(pf::get_overlapped_result(server_, ov_, &bytes, true));
  EXPECT_EQ(bytes, 0u);
  EXPECT_TRUE(pf::wait_event(event_, 0));
}

TEST_F(PipeRequests, RequestThatCompletesAtOnceReportsSuccessAndSignals) {
  connect_client();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(client_, "abcd", 4, &written, nullptr));
  PipePeek peek{};
  ASSERT_TRUE(
      pf::device_io_control_overlapped(server_, kPipePeek, nullptr, 0, &peek, sizeof peek, ov_))
      << pf::last_error();
  EXPECT_TRUE(pf::wait_event(event_, 0));
  uint32_t bytes = 0;
  EXPECT_TRUE(pf::get_overlapped_result(server_, ov_, &bytes, false));
  EXPECT_EQ(bytes, sizeof peek);
  EXPECT_EQ(peek.read_data_available, 4u);
}

TEST_F(PipeRequests, RefusedRequestFailsAtOnceWithItsOwnCode) {
  connect_client();  // already connected: waiting for a client is refused
  EXPECT_FALSE(listen());
  EXPECT_EQ(pf::last_error(), static_cast<uint32_t>(ERROR_PIPE_CONNECTED));
  // The record is reusable and (never having reached the driver) freed without a wait.
}

TEST_F(PipeRequests, CancelledRequestEndsWithOperationAbortedAndTheRecordIsReused) {
  EXPECT_FALSE(listen());
  ASSERT_EQ(pf::last_error(), pf::kErrorIoPending);
  EXPECT_TRUE(pf::cancel_io(server_));
  uint32_t bytes = 0;
  EXPECT_FALSE(pf::get_overlapped_result(server_, ov_, &bytes, true));
  EXPECT_EQ(pf::last_error(), static_cast<uint32_t>(ERROR_OPERATION_ABORTED));
  pf::reset_event(event_);
  EXPECT_FALSE(listen());  // the same record, sent again as the bus-reset monitor does
  ASSERT_EQ(pf::last_error(), pf::kErrorIoPending);
  connect_client();
  EXPECT_TRUE(pf::get_overlapped_result(server_, ov_, &bytes, true));
}

TEST_F(PipeRequests, SynchronousRequestFillsTheOutputAndItsLength) {
  connect_client();
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(server_, "abc", 3, &written, nullptr) ||
              GetLastError() == ERROR_IO_PENDING);
  Sleep(10);
  PipePeek peek{};
  uint32_t returned = 0;
  ASSERT_TRUE(pf::device_io_control(client_, kPipePeek, nullptr, 0, &peek, sizeof peek, &returned))
      << pf::last_error();
  EXPECT_EQ(returned, sizeof peek);
  EXPECT_EQ(peek.read_data_available, 3u);
}

struct LateClient {
  std::string name;
  std::atomic<bool> connecting{false};
  pf::DeviceHandle handle = pf::kInvalidDevice;
};

uint32_t connect_late(void* arg) {
  auto* c = static_cast<LateClient*>(arg);
  Sleep(100);
  c->connecting.store(true);
  c->handle = pf::open_device(c->name.c_str(), false);
  return 0;
}

TEST_F(PipeRequests, RecordOfAPendingRequestIsFreedOnlyAfterCompletion) {
  // The system writes the final status into the record when the request completes; the
  // record must not be freed before that.
  EXPECT_FALSE(listen());
  ASSERT_EQ(pf::last_error(), pf::kErrorIoPending);
  LateClient client;
  client.name = name_;
  pf::Thread* t = pf::create_thread(connect_late, &client, 10000);
  ASSERT_NE(t, nullptr);
  pf::destroy_overlapped(ov_);  // waits for the completion the client brings
  ov_ = nullptr;
  EXPECT_TRUE(client.connecting.load());
  pf::wait_thread(t);
  pf::close_thread(t);
  EXPECT_TRUE(pf::device_valid(client.handle));
  pf::close_device(client.handle);
}

}  // namespace
