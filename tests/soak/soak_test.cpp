// Soaks (label "soak"): many shots, a long stream, start-up and shut-down cycles with
// streams running, and two cameras streaming at once, on a camera clock 4 times faster
// than real time (the capture wait's time-out stays far above a scheduling hiccup of a
// loaded machine over the many thousand frames). Afterwards nothing is left over: the driver's books (handles, frame
// buffers, isochronous resources) are empty once the library is closed, the library's
// threads have ended, and in builds without sanitizers the resident size stays steady
// (ASan's leak check covers memory in the sanitizer build).
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "acquisition/acquisition_support.h"

namespace ucap_test {
namespace {

// Threads of this process.
size_t thread_count() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// Resident size of this process in KiB.
long resident_kib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
// The sanitizers run every step several times slower: a fifth of the counts under
// AddressSanitizer, a tenth under ThreadSanitizer, still give their checks hundreds of shots,
// frames, starts and closes to watch.
#if defined(__SANITIZE_THREAD__)
constexpr int kCounts = 10;
#elif defined(__SANITIZE_ADDRESS__)
constexpr int kCounts = 5;
#else
constexpr int kCounts = 1;
#endif

// Polls camera `index`'s readiness check until a frame comes (bounded: a broken stream
// fails, it does not hang).
int32_t next_frame_of(int32_t index, uint16_t* image, int32_t size, int32_t go_on) {
  for (int i = 0; i < 20000; ++i) {
    const int32_t r = UcapmIsFastAcquisitionReady(index, image, size, go_on);
    if (r != 0) return r;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
  return 0;
}

constexpr char kSoakCamera[] = "sensor=200x160 noise=0 timescale=4";

class Soak : public AcquisitionTest {
 protected:
  std::string config() const override { return kSoakCamera; }
  void SetUp() override {
    std::thread([] {}).join();  // a sanitizer starts its own thread with the first one
    threads_before_ = thread_count();
    AcquisitionTest::SetUp();
  }
  // Closes the library and checks that it left nothing behind.
  void expect_nothing_left() {
    ASSERT_EQ(UcapClose(), 0);
    UcapVcamUsage u{};
    ASSERT_EQ(ucap_vcam_usage(-1, &u), 0);
    EXPECT_EQ((std::array{u.handles, u.notifications, u.frame_buffers, u.bandwidth_handles,
                          u.channels, u.resources}),
              (std::array{0, 0, 0, 0, 0, 0}));
    // Frame workers are never joined: give the last one a moment to be gone.
    for (int i = 0; i < 200 && thread_count() > threads_before_; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(thread_count(), threads_before_);
  }

 private:
  size_t threads_before_ = 0;
};

TEST_F(Soak, ThousandShotsMixingSettings) {
  std::vector<uint16_t> white(200 * 160, 4096 + 100);
  ASSERT_EQ(UcapSetWhiteTable(white.data()), 0);
  long rss_warm = 0;
  int taken = 0;
  constexpr int kShots = 1000 / kCounts;
  for (int i = 0; i < kShots; ++i) {
    const Setting& s = kSettings[i % std::size(kSettings)];
    apply(s);
    ASSERT_EQ(UcapSetImageSize(nullptr), 0);
    if (i % 3 == 0) {  // the middle half of the whole image
      UcapRect whole{};
      ASSERT_EQ(UcapGetCurrentImageSize(&whole), 0);
      const UcapRect middle{whole.right / 4, whole.bottom / 4, whole.right * 3 / 4,
                            whole.bottom * 3 / 4};
      ASSERT_EQ(UcapSetImageSize(&middle), 0);
    }
    ASSERT_EQ(UcapSetExposure(250 + (i % 7) * 1000) + UcapSetWhiteRef(i % 2) +
                  UcapmEnableColorProcessing(0, i % 5 != 0),
              0);
    Buffer image(data_bytes(), static_cast<uint16_t>(i));
    ASSERT_EQ(UcapAcquisition(image.data(), image.size(), nullptr), 0)
        << "shot " << i << " r" << s.resolution << " b" << s.binning;
    ASSERT_TRUE(image.tail_untouched()) << "shot " << i;
    ++taken;
    if (i == 99) rss_warm = resident_kib();
  }
  std::printf("shots taken: %d\n", taken);
  EXPECT_EQ(ucap_vcam_frame_count(ids[0]), kShots);
  if (!kSanitized) {
    EXPECT_LT(resident_kib() - rss_warm, 8 * 1024);
  }
  expect_nothing_left();
}

TEST_F(Soak, TenThousandFrameStream) {
  const UcapRect region{8, 8, 40, 32};  // binned coordinates: 64 x 48 sensor pixels
  ASSERT_EQ(
      UcapSetResolution(2) + UcapSetBinning(2) + UcapSetImageSize(&region) + UcapSetExposure(250),
      0);
  Buffer image(data_bytes(), 5);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  constexpr int kFrames = 10000 / kCounts;
  long rss_warm = 0;
  int delivered = 0;
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(next_frame_of(0, image.data(), image.size(), i + 1 < kFrames), 1) << "frame " << i;
    ++delivered;
    if (i == 999) rss_warm = resident_kib();
  }
  std::printf("frames streamed: %d\n", delivered);
  EXPECT_TRUE(image.tail_untouched());
  EXPECT_EQ(ucap_vcam_frame_count(ids[0]), kFrames);
  if (!kSanitized) {
    EXPECT_LT(resident_kib() - rss_warm, 8 * 1024);
  }
  expect_nothing_left();
}

TEST_F(Soak, HundredStartsAndClosesWithStreamsRunning) {
  int frames = 0;
  constexpr int kCycles = 100 / kCounts;
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    if (cycle > 0) {
      ASSERT_EQ(UcapInit(), 0) << "cycle " << cycle;
    }
    ASSERT_EQ(UcapSetExposure(cycle % 2 == 0 ? 250 : 3000000), 0);  // the odd ones wait
    ASSERT_EQ(UcapStartFastAcquisition(), 0) << "cycle " << cycle;
    if (cycle % 2 == 0) {
      Buffer image(data_bytes(), 6);
      ASSERT_EQ(next_frame_of(0, image.data(), image.size(), 1), 1) << "cycle " << cycle;
      ++frames;
    }
    ASSERT_EQ(UcapClose(), 0);  // the stream's worker and transfer end with it
    UcapVcamUsage u{};
    ASSERT_EQ(ucap_vcam_usage(-1, &u), 0);
    ASSERT_EQ(u.handles + u.frame_buffers + u.resources + u.channels + u.bandwidth_handles, 0)
        << "cycle " << cycle;
  }
  std::printf("cycles: %d, frames streamed: %d\n", kCycles, frames);
  expect_nothing_left();
}

class TwoCameraSoak : public Soak {
 protected:
  std::vector<std::string> cameras() const override { return {kSoakCamera, kSoakCamera}; }
};

TEST_F(TwoCameraSoak, TwoCamerasStreamOnTwoThreads) {
  constexpr int kFrames = 2000 / kCounts;
  std::atomic<int> delivered[2] = {0, 0};
  std::atomic<int32_t> failure[2] = {0, 0};  // the code that ended a stream early
  auto stream = [&](int index) {
    int32_t w = 0, h = 0;
    UcapmGetCurrentDataSize(index, &w, &h);
    const int32_t n = w * h * (UcapmGetCurrentBitsPerPixel(index) == 12 ? 2 : 6);
    Buffer image(n, static_cast<uint16_t>(index));
    if (const int32_t c = UcapmStartFastAcquisition(index); c != 0) return failure[index].store(c);
    for (int i = 0; i < kFrames; ++i) {
      if (const int32_t r = next_frame_of(index, image.data(), n, i + 1 < kFrames); r != 1)
        return failure[index].store(r);
      delivered[index].fetch_add(1);
    }
  };
  // Small grey images: two streams share the bus's isochronous bandwidth.
  const UcapRect region{0, 0, 32, 32};
  for (int32_t index : {0, 1}) {
    ASSERT_EQ(UcapmSetResolution(index, 3) + UcapmSetBitsPerPixel(index, 12) +
                  UcapmSetImageSize(index, &region) + UcapmSetExposure(index, 250),
              0);
  }
  std::thread first(stream, 0), second(stream, 1);
  first.join();
  second.join();
  std::printf("frames streamed: %d + %d\n", delivered[0].load(), delivered[1].load());
  for (int k : {0, 1}) {
    EXPECT_EQ(failure[k].load(), 0);
    EXPECT_EQ(delivered[k].load(), kFrames);
    EXPECT_EQ(ucap_vcam_frame_count(ids[k]), kFrames);
  }
  expect_nothing_left();
}

}  // namespace
}  // namespace ucap_test
