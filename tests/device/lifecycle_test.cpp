// The library gate: start-up and shut-down against each other and against exports that
// use the camera table, from several threads (run under ThreadSanitizer and
// AddressSanitizer as well).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "core/gate.h"
#include "support/camera_fixture.h"

namespace {

using ucap::Gate;
using ucap::GatePass;
using ucap::GateShut;

// Waits (without a time limit) until `done` holds.
template <typename F>
void wait_until(F&& done) {
  while (!done()) std::this_thread::yield();
}

TEST(LibraryGate, ShutWaitsForEveryPassAndGivesNoNewOne) {
  Gate gate;
  ASSERT_TRUE(gate.enter());  // a worker's pass
  std::atomic<bool> shut_in{false};
  std::thread closer([&] {
    const GateShut shut(gate);
    EXPECT_TRUE(shut);
    shut_in = true;
  });
  wait_until([&] { return gate.closing(); });
  EXPECT_FALSE(gate.enter());
  {
    const GatePass pass(gate);
    EXPECT_FALSE(pass);
  }
  EXPECT_FALSE(shut_in.load()) << "shut while a pass was out";
  std::thread worker([&] { gate.leave(); });  // returned by another thread than took it
  worker.join();
  closer.join();
  EXPECT_TRUE(shut_in.load());
  EXPECT_FALSE(gate.closing());
  const GatePass pass(gate);
  EXPECT_TRUE(pass);
}

TEST(LibraryGate, AThreadHoldingAPassCannotShut) {
  Gate gate;
  const GatePass pass(gate);
  ASSERT_TRUE(pass);
  const GateShut shut(gate);  // would wait for itself
  EXPECT_FALSE(shut);
  EXPECT_FALSE(gate.closing());
}

class LifecycleTest : public ucap_test::CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {"", ""}; }
};

// Two writers (one per camera, as the exports allow), a reader of both cameras and a
// second starter run while the test thread closes and starts the library again. Every
// export answers as for a started or an uninitialised library, never from a freed record.
TEST_F(LifecycleTest, ExportsHammeredWhileAnotherThreadClosesAndStartsAgain) {
  constexpr int kCycles = 3;
  UcapInfoRecord first[2]{};
  ASSERT_EQ(UcapmInfo(0, &first[0]), 0);
  ASSERT_EQ(UcapmInfo(1, &first[1]), 0);
  const uint32_t eeprom36 = ReadEprom(144, 4);

  std::atomic<bool> done{false};
  std::atomic<int> running{0};
  std::vector<std::thread> threads;
  for (int32_t cam = 0; cam < 2; ++cam) {
    threads.emplace_back([&, cam] {
      ++running;
      for (int32_t k = 0; !done; ++k) {
        const int32_t exposure = 250 * (1 + k % 64);
        const int32_t set = UcapmSetExposure(cam, exposure);
        EXPECT_TRUE(set == 0 || set == 3) << set;
        int32_t got = 0;
        const int32_t rc = UcapmGetCurrentExposure(cam, &got);
        const bool stored = got == 100000 || (got >= 250 && got <= 250 * 64 && got % 250 == 0);
        EXPECT_TRUE(rc == 3 || (rc == 0 && stored)) << rc << " " << got;
        const int32_t trigger = UcapmEnableHardwareTrigger(cam, k & 1);
        EXPECT_TRUE(trigger == 0 || trigger == 3) << trigger;
        const int32_t white = UcapmSetWhiteBalance(cam, 1.37, 1.93, 1.0);
        EXPECT_TRUE(white == 0 || white == 3) << white;
        std::this_thread::yield();  // leave the closing thread its share of the machine
      }
    });
  }
  threads.emplace_back([&] {
    ++running;
    while (!done) {
      for (int32_t cam = 0; cam < 2; ++cam) {
        UcapInfoRecord info{};
        const int32_t rc = UcapmInfo(cam, &info);
        EXPECT_TRUE(rc == 0 || rc == 3) << rc;
        if (rc == 0) {
          EXPECT_EQ(info.one, 1u);
          EXPECT_EQ(info.vendor_word3, first[cam].vendor_word3);
          EXPECT_EQ(info.unique_id_low, first[cam].unique_id_low);
        }
        int32_t on = -1;
        const int32_t trigger = UcapmIsHardwareTriggerEnabled(cam, &on);
        EXPECT_TRUE(trigger == 3 || (trigger == 0 && (on == 0 || on == 1))) << trigger << " " << on;
      }
      const uint32_t word = ReadEprom(144, 4);
      EXPECT_TRUE(word == eeprom36 || word == 0) << word;
      const int32_t binning = UcapGetCurrentBinning();
      EXPECT_TRUE(binning == 1 || binning == 0) << binning;
      std::this_thread::yield();
    }
  });
  threads.emplace_back([&] {
    ++running;
    while (!done) {
      EXPECT_EQ(UcapInit(), 0);
      std::this_thread::yield();
    }
  });

  wait_until([&] { return running == static_cast<int>(threads.size()); });
  for (int i = 0; i < kCycles; ++i) {
    EXPECT_EQ(UcapClose(), 0);
    EXPECT_EQ(UcapInit(), 0);
  }
  done = true;
  for (std::thread& t : threads) t.join();

  UcapInfoRecord info{};
  EXPECT_EQ(UcapmInfo(1, &info), 0);
  EXPECT_EQ(info.unique_id_low, first[1].unique_id_low);
}

}  // namespace
