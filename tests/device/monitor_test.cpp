// The bus-reset monitor: the application's callback runs once per bus reset with its
// user value, never after UcapClose, and a registration change applies at the next reset.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
  EXPECT_EQ(UcapSetBusresetCallback(on_reset, 0x1122334455667788ull), 0);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  ASSERT_TRUE(wait_for_calls(1));
  EXPECT_EQ(g_last_user.load(), 0x1122334455667788ull);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  ASSERT_TRUE(wait_for_calls(2));
  // A new user value takes effect at the next reset.
  UcapSetBusresetCallback(on_reset, 7);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  ASSERT_TRUE(wait_for_calls(3));
  EXPECT_EQ(g_last_user.load(), 7u);
}

TEST_F(MonitorTest, NoCallbackRegisteredRearmsQuietly) {
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // The monitor re-armed: a callback registered now sees the next reset.
  UcapSetBusresetCallback(on_reset, 3);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  ASSERT_TRUE(wait_for_calls(1));
  EXPECT_EQ(g_calls.load(), 1);
}

TEST_F(MonitorTest, NoCallbackAfterClose) {
  UcapSetBusresetCallback(on_reset, 1);
  ASSERT_EQ(UcapClose(), 0);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(g_calls.load(), 0);
  // A new start-up gets a monitor of its own, which works again.
  ASSERT_EQ(UcapInit(), 0);
  ASSERT_EQ(ucap_vcam_bus_reset(), 0);
  ASSERT_TRUE(wait_for_calls(1));
}

TEST_F(MonitorTest, CloseWhileWaitingEndsTheMonitorPromptly) {
  UcapSetBusresetCallback(on_reset, 1);
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(UcapClose(), 0);
    ASSERT_EQ(UcapInit(), 0);
  }
  EXPECT_EQ(g_calls.load(), 0);
}

}  // namespace
