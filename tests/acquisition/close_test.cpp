// UcapClose while frames are pending: it ends the waits that would keep the camera table
// alive (a shot on another thread, a stream's worker that no application call polls) and
// then frees the table, instead of waiting for a trigger that never comes.
#include <future>
#include <thread>

#include "acquisition_support.h"

namespace ucap_test {
namespace {

using CloseWhilePending = AcquisitionTest;

// A hang shows as a failure after a generous bound, not as a stuck suite.
int32_t close_in_time() {
  auto closing = std::async(std::launch::async, [] { return UcapClose(); });
  EXPECT_EQ(closing.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  return closing.get();
}

TEST_F(CloseWhilePending, TriggeredStreamBetweenCalls) {
  ASSERT_EQ(UcapEnableHardwareTrigger(1), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);  // its worker now waits for a trigger
  EXPECT_EQ(close_in_time(), 0);
  ASSERT_EQ(UcapInit(), 0);  // the library starts again and the camera takes pictures
  Buffer buffer(data_bytes(), 5);
  EXPECT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 0);
  expect_no_transfer();  // the stream's went back with the close
}

TEST_F(CloseWhilePending, ShotOnAnotherThread) {
  ASSERT_EQ(UcapEnableHardwareTrigger(1), 0);
  const int32_t n = data_bytes();
  Buffer buffer(n, 3);
  std::atomic<int32_t> result{-1};
  std::thread shot([&] { result.store(UcapAcquisition(buffer.data(), n, nullptr)); });
  while (record().busy.load() == 0) std::this_thread::yield();  // its worker waits for the frame
  EXPECT_EQ(close_in_time(), 0);
  shot.join();
  EXPECT_NE(result.load(), 0);
  EXPECT_TRUE(buffer.untouched());
}

}  // namespace
}  // namespace ucap_test
