// The bus-reset monitor: the application's callback runs once per bus reset with its
// user value, never after UcapClose, and a registration change applies at the next reset.
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

// Waits (bounded) until the callback count reaches `n`.
bool wait_for_calls(int n) {
  for (int i = 0; i < 400 && g_calls.load() < n; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return g_calls.load() >= n;
}

// The monitor arms its request shortly after start-up and again after each callback; a
// reset before that is not seen (as on a real bus). Fires resets until the first call
// arrives, then waits for the re-arm and starts counting from zero.
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

// Fires one reset and waits until the callback count reaches n, then lets the monitor
// re-arm.
bool reset_and_wait(int n) {
  ucap_vcam_bus_reset();
  bool ok = wait_for_calls(n);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  return ok;
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
  EXPECT_EQ(g_calls.load(), 2);
  // A new user value takes effect at the next reset.
  EXPECT_EQ(UcapSetBusresetCallback(on_reset, 7), 0);
  ASSERT_TRUE(reset_and_wait(3));
  EXPECT_EQ(g_last_user.load(), 7u);
  EXPECT_EQ(g_calls.load(), 3);
}

TEST_F(MonitorTest, NoCallbackAfterClose) {
  UcapSetBusresetCallback(on_reset, 1);
  ASSERT_EQ(UcapClose(), 0);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(g_calls.load(), 0);
  // A new start-up gets a monitor of its own, which works again.
  ASSERT_EQ(UcapInit(), 0);
  EXPECT_TRUE(armed_monitor(2));
}

// The callback may not start or shut the library (shut-down waits for the thread that
// calls it): both answer 3, and a shut-down from the application still ends in time.
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

// A registration is one pair: while the application switches between two callbacks with
// their own user values, every call gets the user value registered with its callback.
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
