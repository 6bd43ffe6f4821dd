// A seeded, bounded hostile trial: three threads call random exports with random (also bad)
// arguments on two cameras while a fourth restarts the library, unplugs and replugs a
// camera, resets the bus and injects faults. Every export may overlap every other: nothing
// is written past a buffer, nothing hangs, and the sanitizer builds see no race.
#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "acquisition_support.h"

namespace ucap_test {
namespace {

constexpr int32_t kImageBytes = 200 * 160 * 6, kStoreBytes = 162 * 200 * 2;

int32_t stop_sometimes(int32_t elapsed, int32_t, int32_t, intptr_t user) {
  return elapsed >= static_cast<int32_t>(user) ? 1 : 0;
}

// One random export on camera 0, 1 or 2 (none) with random arguments.
void random_call(std::mt19937& rng, Buffer& image, Buffer& store) {
  auto pick = [&](int n) { return static_cast<int32_t>(rng() % static_cast<uint32_t>(n)); };
  const int32_t c = pick(3), size = pick(4) == 0 ? pick(kImageBytes) : kImageBytes;
  const UcapRect r{pick(60) - 4, pick(60) - 4, pick(220), pick(180)};
  UcapRect q{};
  double x = 0, y = 0, z = 0;
  int32_t a = 0, b = 0;
  switch (pick(18)) {
    case 0:
      UcapmAcquisitionEx(c, image.data(), size, &stop_sometimes, pick(4) ? 1 << 30 : pick(300));
      break;
    case 1: UcapmStartFastAcquisition(c); break;
    case 2: UcapmIsFastAcquisitionReady(c, image.data(), size, pick(2)); break;
    case 3: UcapmAbortFastAcquisition(c); break;
    case 4: UcapmSetResolution(c, pick(6) - 1); break;
    case 5: UcapmSetBitsPerPixel(c, pick(2) ? 12 : 36 - pick(2)); break;
    case 6: UcapmSetBinning(c, pick(7)); break;
    case 7: UcapmSetImageSize(c, pick(3) ? &r : nullptr); break;
    case 8: UcapmSetExposure(c, pick(20000) - 100); break;
    case 9:
      UcapmGetCurrentImageSize(c, pick(2) ? &q : nullptr);
      UcapmGetCurrentDataSize(c, &a, &b);
      break;
    case 10: UcapmSaveBlackRef(c, store.data(), pick(2) ? kStoreBytes : pick(kStoreBytes)); break;
    case 11:
      UcapmRestoreBlackRef(c, store.data(), pick(2) ? kStoreBytes : pick(kStoreBytes));
      break;
    case 12:
      pick(2) ? UcapmSetWhiteTable(c, image.data()) : UcapmGetWhiteTable(c, image.data());
      break;
    case 13: UcapmSetWhiteBalance(c, pick(30) / 10.0 - 0.5, 1.0, pick(30) / 10.0); break;
    case 14: UcapmGetCurrentWhiteBalance(c, &x, &y, &z); break;
    case 15: UcapmEnablePacking(c, pick(2)); break;
    case 16: pick(2) ? UcapmSetBlackRef(c, pick(2)) : UcapmSetWhiteRef(c, pick(2)); break;
    default:
      if (pick(8) == 0)
        pick(2) ? UcapmCalculateBlackRef(c, nullptr) : UcapmCalculateWhiteRef(c, nullptr);
      break;
  }
}

class Trial : public AcquisitionTest {
  std::vector<std::string> cameras() const override { return {config(), config()}; }
};

TEST_F(Trial, RandomExportsOnEveryThreadWhileTheLibraryRestartsAndCamerasComeAndGo) {
  UcapSetErrorMessages(0);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  std::atomic<int> running{3};
  std::vector<std::thread> threads;
  std::vector<std::unique_ptr<Buffer>> buffers;
  for (uint32_t t = 0; t < 3; ++t) {
    buffers.push_back(std::make_unique<Buffer>(kImageBytes, static_cast<uint16_t>(t)));
    buffers.push_back(std::make_unique<Buffer>(kStoreBytes, static_cast<uint16_t>(t + 7)));
    threads.emplace_back([&, t, image = buffers[2 * t].get(), store = buffers[2 * t + 1].get()] {
      std::mt19937 rng(1234 + t);
      for (int i = 0; i < 400 && std::chrono::steady_clock::now() < end; ++i)
        random_call(rng, *image, *store);
      running.fetch_sub(1);
    });
  }
  std::mt19937 rng(99);
  int spare = ids[1];
  while (running.load() > 0) {
    switch (rng() % 5) {
      case 0:
        UcapClose();
        UcapInit();
        break;
      case 1:
        ucap_vcam_detach(spare);
        spare = ucap_vcam_attach(config().c_str());
        UcapInit();
        break;
      case 2: ucap_vcam_bus_reset(); break;
      case 3: ucap_vcam_set(ids[0], rng() % 2 ? "overrange=1" : "fail_ioctl=222044:1:31"); break;
      default: break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  for (auto& t : threads) t.join();
  for (auto& b : buffers) EXPECT_TRUE(b->tail_untouched());
  UcapSetErrorMessages(1);
}

}  // namespace
}  // namespace ucap_test
