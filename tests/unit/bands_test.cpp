// The row-band pool: bands cover every item once; split stages give the single-threaded images.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "color/interpolation.h"
#include "core/bands.h"
#include "flow/stage_adapters.h"
#include "interp_test_util.h"

namespace {

void set_threads(const char* value) {
#ifdef _WIN32
  _putenv_s("UCAP_THREADS", value);  // an empty value removes the variable
#else
  *value != '\0' ? setenv("UCAP_THREADS", value, 1) : unsetenv("UCAP_THREADS");
#endif
}

class BandsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_threads("3");
    ucap::bands::start();
  }
  void TearDown() override {
    ucap::bands::stop();
    set_threads("");
  }
};

TEST_F(BandsTest, BandsCoverEveryItemOnceOnGrainLimits) {
  ASSERT_EQ(ucap::bands::threads(), 3);
  std::vector<std::atomic<int>> visits(1000);
  std::atomic<int> calls{0};
  ucap::bands::for_bands(1000, 7, 10, [&](int32_t begin, int32_t end) {
    EXPECT_EQ(begin % 7, 0);
    EXPECT_TRUE(end % 7 == 0 || end == 1000);
    for (int32_t i = begin; i < end; ++i) visits[i]++;
    calls++;
  });
  for (auto& v : visits) ASSERT_EQ(v.load(), 1);
  EXPECT_EQ(calls.load(), 3);
  // Too few items for a second band: one call on the caller's thread.
  calls = 0;
  ucap::bands::for_bands(15, 1, 10, [&](int32_t begin, int32_t end) {
    EXPECT_EQ(begin, 0);
    EXPECT_EQ(end, 15);
    calls++;
  });
  EXPECT_EQ(calls.load(), 1);
}

TEST_F(BandsTest, StagesRunFromTwoThreadsAtOnceGiveTheSingleThreadedImages) {
  const int w = 70, h = 516;  // tall enough for both interpolators to split
  const auto tables = interp_test::identity_gains();
  const auto mosaic = interp_test::random_samples(static_cast<size_t>(w) * h, 5);
  const ucap::Rect rect{0, 0, w, h};
  auto run_all = [&] {
    std::vector<uint16_t> out;
    for (int quality : {1, 2}) {
      std::vector<uint16_t> image(3 * mosaic.size());
      ucap::InterpolateColor(*tables, image.data(), mosaic.data(), rect, quality,
                             ucap::library_services());
      ucap::ApplyColorMatrix(*tables, 1, image.data(), w * h);
      out.insert(out.end(), image.begin(), image.end());
    }
    std::vector<uint16_t> image(3 * mosaic.size());
    ucap::InterpolateBlocks(*tables, image.data(), mosaic.data(), rect);
    ucap::AssembleHalfColor(*tables, image.data() + image.size() / 2, mosaic.data(), 1, rect);
    out.insert(out.end(), image.begin(), image.end());
    return out;
  };
  std::vector<uint16_t> split_a, split_b;
  std::thread other([&] { split_a = run_all(); });
  split_b = run_all();
  other.join();
  ucap::bands::stop();
  ASSERT_EQ(ucap::bands::threads(), 1);
  const auto alone = run_all();
  EXPECT_EQ(split_a, alone);
  EXPECT_EQ(split_b, alone);
}

}  // namespace
