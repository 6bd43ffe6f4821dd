// Threads at the interface: while one thread takes single shots and streams, others
// change settings, ask queries, fire bus resets, or close the library. Every call answers
// with a defined result (the acquisitions 0, 8 for a combination the camera cannot take,
// or 10 while a settings change holds the camera; the settings 0, 8 or 10; after a close
// 3), nothing is written past the caller's buffer, nothing hangs, and the sanitizer builds
// see no race.
#include <atomic>
#include <chrono>
#include <future>
#include <set>
#include <thread>

#include "acquisition_support.h"

namespace ucap_test {
namespace {

using Concurrency = AcquisitionTest;

// Large enough for any setting's image: the sensor as color pixels.
constexpr int32_t kAnyImageBytes = 200 * 160 * 6;

// One acquisition of the kind `i` names: a single shot, or a stream of three frames.
int32_t acquire(int i, Buffer& image) {
  if (i % 3 != 2) return UcapAcquisition(image.data(), image.size(), nullptr);
  const int32_t start = UcapStartFastAcquisition();
  if (start != 0) return start;
  int32_t r = 0;
  for (int frame = 0; frame < 3; ++frame) {
    do {
      r = UcapIsFastAcquisitionReady(image.data(), image.size(), frame < 2);
      if (r == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } while (r == 0);
    if (r != 1) return -r;
  }
  return 0;
}

// A settings export or a query, by number; every one answers 0, 8 or 10.
int32_t setting_or_query(int i) {
  static const UcapRect kRegion{16, 16, 80, 64};
  int32_t a = 0, b = 0, c = 0;
  UcapRect r{};
  double x = 0, y = 0, z = 0;
  switch (i % 16) {
    case 0: {  // one of the combinations the camera takes, one setting after the other
      const Setting& s = kSettings[i / 16 % std::size(kSettings)];
      int32_t result = UcapSetResolution(s.resolution);
      if (result == 0) result = UcapSetBitsPerPixel(s.bits);
      return result == 0 ? UcapSetBinning(s.binning) : result;
    }
    case 1: return UcapSetBlackRef(0);
    case 2: return UcapmHasBinning(0, 2, &a);
    case 3: return UcapSetImageSize(i / 16 % 2 == 0 ? nullptr : &kRegion);
    case 4: return UcapSetFrameSize(nullptr);
    case 5: return UcapSetExposure(250 + i % 4000);
    case 6: return UcapSetWhiteBalance(1.0 + i % 3 * 0.1, 1.0, 1.2);
    case 7: return UcapSetColorSaturation(1.0, 1.0 + i % 2 * 0.5, 1.0);
    case 8: return UcapSetWhiteRef(i / 16 % 2);
    case 9: return UcapmEnablePacking(0, i / 16 % 2);
    case 10: return UcapGetCurrentDataSize(&a, &b);
    case 11: return UcapGetCurrentImageSize(&r);
    case 12: return UcapGetCurrentWhiteBalance(&x, &y, &z);
    case 13: return UcapmGetCurrentBinning(0, &a);
    case 14: return UcapGetExposureRange(&a, &b, &c);
    default: return UcapmGetCurrentExposure(0, &a);
  }
}

// Bus resets seen. It outlives the test: the monitor may have read the callback just before
// the test switches it off and still be on its way to calling it.
std::atomic<int> g_resets{0};
void count_reset(uint64_t) { g_resets.fetch_add(1); }

// What the first shot's progress callback shares with the other threads.
struct FirstShot {
  std::atomic<bool> holding{false};  // the shot holds the camera: the others may start
  std::atomic<int> calls{0};         // calls the settings thread has made
};

// A progress callback that lets the other threads start, then keeps its shot going until
// the settings thread has made 32 calls, every kind of call twice, while the shot holds
// the camera.
int32_t wait_for_calls(int32_t, int32_t, int32_t, intptr_t user) {
  auto* first = reinterpret_cast<FirstShot*>(user);
  first->holding.store(true);
  eventually([&] { return first->calls.load() >= 32; });
  return 0;
}

TEST_F(Concurrency, SettingsQueriesAndBusResetsWhileShotsAndStreamsRun) {
  UcapSetErrorMessages(0);  // the refusals are many
  std::vector<uint16_t> white(200 * 160, 4096);
  ASSERT_EQ(UcapSetWhiteTable(white.data()), 0);
  g_resets.store(0);
  ASSERT_EQ(UcapSetBusresetCallback(&count_reset, 0), 0);
  std::atomic<bool> done{false};
  std::set<int32_t> acquired, changed;  // results seen, each set by one thread
  Buffer image(kAnyImageBytes, 9);
  FirstShot first;
  // The first shot starts alone, so it is neither refused nor handed a combination the
  // camera cannot take; the other threads start once it holds the camera.
  std::thread acquisitions([&] {
    acquired.insert(UcapAcquisitionEx(image.data(), image.size(), &wait_for_calls,
                                      reinterpret_cast<intptr_t>(&first)));
    first.holding.store(true);  // even if the shot failed before its callback ran
    for (int i = 0; i < 90; ++i) acquired.insert(acquire(i, image));
    done.store(true);
  });
  std::thread settings([&] {
    while (!first.holding.load()) std::this_thread::yield();
    for (int i = 0; !done.load(); ++i, first.calls.fetch_add(1))
      changed.insert(setting_or_query(i));
  });
  std::thread bus([&] {
    while (!first.holding.load()) std::this_thread::yield();
    while (!done.load()) {
      ucap_vcam_bus_reset();
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  acquisitions.join();
  settings.join();
  bus.join();
  for (int32_t r : acquired) EXPECT_TRUE(r == 0 || r == 8 || r == 10) << r;
  for (int32_t r : changed) EXPECT_TRUE(r == 0 || r == 8 || r == 10) << r;
  EXPECT_TRUE(acquired.count(0) == 1);
  EXPECT_TRUE(changed.count(10) == 1);  // the setters refused while the first shot held
  EXPECT_TRUE(image.tail_untouched());
  ucap_vcam_bus_reset();
  EXPECT_TRUE(eventually([&] { return g_resets.load() > 0; }));
  expect_no_transfer();
  ASSERT_EQ(UcapSetBusresetCallback(nullptr, 0), 0);
  UcapSetErrorMessages(1);
}

// UcapClose from another thread ends shots and streams under way and every later call
// answers 3; the library starts again afterwards.
TEST_F(Concurrency, CloseFromAnotherThreadWhileShotsAndStreamsRun) {
  for (int32_t exposure : {250, 3000000}) {  // short exposures, and ones the close cancels
    ASSERT_EQ(UcapSetExposure(exposure), 0);
    std::atomic<int> operations{0};
    std::set<int32_t> results;
    Buffer image(kAnyImageBytes, 10);
    std::thread acquisitions([&] {
      for (int i = 0;; ++i) {
        const int32_t r = acquire(i, image);
        results.insert(r);
        operations.fetch_add(1);
        if (r == 3 || r == -3) return;
      }
    });
    while (operations.load() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    auto closing = std::async(std::launch::async, [] { return UcapClose(); });
    ASSERT_EQ(closing.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(closing.get(), 0);
    acquisitions.join();
    for (int32_t r : results) EXPECT_TRUE(r == 0 || r == 3 || r == 4 || r == -3 || r == -11) << r;
    EXPECT_TRUE(image.tail_untouched());
    expect_no_transfer();
    ASSERT_EQ(UcapInit(), 0);
    Buffer next(data_bytes(), 11);
    EXPECT_EQ(UcapAcquisition(next.data(), next.size(), nullptr), 0);
  }
}

}  // namespace
}  // namespace ucap_test
