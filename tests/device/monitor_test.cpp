// The bus-reset monitor: one callback per reset with its user value, none after UcapClose.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "support/camera_fixture.h"

namespace {

std::atomic<int> g_calls{0};
std::atomic<uint64_t> g_last_user{0};

void on_reset(uint64_t user) {
  g_last_user.store(user);
  g_calls.fetch_add(1);
}

// The monitor re-arms its request after start-up and each callback; a reset before that is
// not seen. Fires resets until the first call, waits for the re-arm and counts from zero.
bool armed_monitor(uint64_t user) {
  UcapSetBusresetCallback(on_reset, user);
  for (int i = 0; i < 100 && g_calls.load() == 0; ++i) {
    ucap_vcam_bus_reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (g_calls.load() == 0) return false;
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  g_calls.store(0);
  return true;
}

// Fires one reset, waits (bounded) for the n-th call, then lets the monitor re-arm.
bool reset_and_wait(int n) {
  ucap_vcam_bus_reset();
  for (int i = 0; i < 400 && g_calls.load() < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return g_calls.load() >= n;
}

class MonitorTest : public ucap_test::CameraTest {
 protected:
  void SetUp() override {
    g_calls.store(0);
    UcapSetBusresetCallback(nullptr, 0);
    CameraTest::SetUp();
  }
  void TearDown() override {
    CameraTest::TearDown();
    UcapSetBusresetCallback(nullptr, 0);
  }
};

TEST_F(MonitorTest, CallbackRunsOncePerResetWithItsUserValue) {
  ASSERT_TRUE(armed_monitor(0x1122334455667788ull));
  ASSERT_TRUE(reset_and_wait(1));
  EXPECT_EQ(g_last_user.load(), 0x1122334455667788ull);
  ASSERT_TRUE(reset_and_wait(2));
  EXPECT_EQ(g_calls.load(), 2);  // (a new user value at the next reset: the switching test)
}

TEST_F(MonitorTest, NoCallbackAfterClose) {
  UcapSetBusresetCallback(on_reset, 1);
  ASSERT_EQ(UcapClose(), 0);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(g_calls.load(), 0);
  ASSERT_EQ(UcapInit(), 0);
  EXPECT_TRUE(armed_monitor(2));  // a new start-up's own monitor
}

// Shut-down waits for the callback's thread: from the callback, start and shut answer 3.
std::atomic<int32_t> g_init_result{-1}, g_close_result{-1};
void restart_from_callback(uint64_t) {
  g_close_result.store(UcapClose());
  g_init_result.store(UcapInit());
  g_calls.fetch_add(1);
}

TEST_F(MonitorTest, CallbackCannotStartOrShutTheLibrary) {
  ASSERT_TRUE(armed_monitor(0));
  UcapSetBusresetCallback(restart_from_callback, 0);
  ASSERT_TRUE(reset_and_wait(1));
  EXPECT_EQ(g_close_result.load(), 3);
  EXPECT_EQ(g_init_result.load(), 3);
  UcapInfoRecord info{};
  EXPECT_EQ(UcapInfo(&info), 0);  // still running
  auto closing = std::async(std::launch::async, [] { return UcapClose(); });
  ASSERT_EQ(closing.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(closing.get(), 0);
}

// A registration is one pair: switched to and fro, each callback gets its own user value.
std::atomic<int> g_mismatches{0};
template <uint64_t kOwnUser>
void on_reset_expecting(uint64_t user) {
  if (user != kOwnUser) g_mismatches.fetch_add(1);
  g_calls.fetch_add(1);
}

TEST_F(MonitorTest, CallbackAlwaysGetsItsOwnUserValue) {
  ASSERT_TRUE(armed_monitor(0));
  g_mismatches.store(0);
  std::atomic<bool> done{false};
  std::thread switching([&] {
    while (!done.load()) {
      UcapSetBusresetCallback(on_reset_expecting<0xA>, 0xA);
      UcapSetBusresetCallback(on_reset_expecting<0xB>, 0xB);
    }
  });
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (g_calls.load() < 2000 && std::chrono::steady_clock::now() < until) ucap_vcam_bus_reset();
  done.store(true);
  switching.join();
  EXPECT_GE(g_calls.load(), 100);
  EXPECT_EQ(g_mismatches.load(), 0);
}

}  // namespace
