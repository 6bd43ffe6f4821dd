// The shipped library as applications use it (libucap.so, or ucap.dll through its import
// library), reached through the public headers only: the processed images of a fixed scene
// are the same on every platform, with or without the AVX2 kernels and with any number of
// threads. The digests were taken on Linux with UCAP_NO_AVX2=1 and UCAP_THREADS=1; ctest runs
// this program as is, with UCAP_NO_AVX2=1 and with UCAP_THREADS=1, natively and under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "ucap/ucap.h"
#include "ucap/vcam.h"

namespace {

// Frames without noise (every frame of one setting is the same), a sensor that every binning
// factor divides, two blemishes, and a clock fast enough for the sanitizer builds.
constexpr char kCamera[] = "sensor=360x240 noise=0 timescale=200 blemishes=17:33,200:101";

struct Shot {
  const char* name;
  int32_t resolution, bits, binning;
  UcapRect region;  // all zero: the whole image
  bool stream;      // the last frame of a fast acquisition instead of a single shot
  int32_t color;    // color processing (the color matrix)
  uint64_t digest;  // FNV-1a 64 over the image's bytes, low byte of each word first
};

// Resolution 0: high-quality interpolation (shot) or blocks (stream); 1: half-resolution
// color, its grey, and mono binning; 2: high-quality (shot) or standard (stream)
// interpolation and binned interpolation; 3: interlaced grey.
constexpr Shot kShots[] = {
    {"full, high quality", 0, 36, 1, {}, false, 1, 0x1c24285875c70837ull},
    {"full, blocks", 0, 36, 1, {}, true, 1, 0x1c98f56a60015598ull},
    {"full, region, no matrix", 0, 36, 1, {40, 24, 244, 180}, false, 0, 0x9d621fd765d07055ull},
    {"half color", 1, 36, 1, {}, false, 1, 0x8c7ad0d2f9b813abull},
    {"half color, binning 3, region", 1, 36, 3, {3, 2, 27, 17}, false, 1, 0x23eac4f2851856ffull},
    {"half grey", 1, 12, 1, {}, false, 0, 0x44c7dac0f03c57b8ull},
    {"half mono, binning 2", 1, 12, 2, {}, true, 0, 0xd07cb0daf18b2beeull},
    {"interlaced, high quality", 2, 36, 1, {}, false, 1, 0xb311d892b45fe217ull},
    {"interlaced, standard", 2, 36, 1, {}, true, 1, 0xce01bcd11a240670ull},
    {"interlaced, binning 4, region", 2, 36, 4, {4, 2, 80, 50}, false, 1, 0x64dbb878de3ba56eull},
    {"interlaced, binning 5", 2, 36, 5, {}, true, 0, 0xb9a4dbf716f966e3ull},
    {"interlaced grey", 3, 12, 1, {}, false, 0, 0x4d9966bbd10b721eull},
};

uint64_t fnv1a(const std::vector<uint16_t>& image) {
  uint64_t h = 1469598103934665603ull;
  for (uint16_t w : image) {
    for (int b = 0; b < 2; ++b) {
      h ^= static_cast<uint8_t>(w >> (8 * b));
      h *= 1099511628211ull;
    }
  }
  return h;
}

// Takes one image with the settings of `s`; empty when a call failed.
std::vector<uint16_t> take(const Shot& s) {
  EXPECT_EQ(UcapSetResolution(s.resolution), 0);
  EXPECT_EQ(UcapSetBitsPerPixel(s.bits), 0);
  EXPECT_EQ(UcapSetBinning(s.binning), 0);
  const bool whole = s.region.right == 0;
  EXPECT_EQ(UcapSetImageSize(whole ? nullptr : &s.region), 0);
  EXPECT_EQ(UcapmEnableColorProcessing(0, s.color), 0);
  int32_t w = 0, h = 0;
  EXPECT_EQ(UcapGetCurrentDataSize(&w, &h), 0);
  std::vector<uint16_t> image(static_cast<size_t>(w) * h * (s.bits == 36 ? 3 : 1));
  const auto bytes = static_cast<int32_t>(image.size() * sizeof(uint16_t));
  bool taken = false;
  if (!s.stream) {
    taken = UcapAcquisition(image.data(), bytes, nullptr) == 0;
  } else if (UcapStartFastAcquisition() == 0) {
    int32_t ready = 0;
    while ((ready = UcapIsFastAcquisitionReady(image.data(), bytes, 0)) == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    taken = ready == 1;
  }
  if (!taken) image.clear();
  return image;
}

TEST(ShippedLibrary, ProcessedImagesOfAFixedSceneHaveTheirDigests) {
  ASSERT_EQ(ucap_vcam_reset(), 0);
  ASSERT_GE(ucap_vcam_attach(kCamera), 0);
  UcapSetErrorMessages(0);
  ASSERT_EQ(UcapInit(), 0);
  ASSERT_EQ(Ucap_corrblems(1), 1);  // the blemish list is valid
  ASSERT_EQ(UcapSetExposure(40000), 0);
  ASSERT_EQ(UcapSetWhiteBalance(1.2, 1.0, 1.7), 0);
  for (const Shot& s : kShots) {
    SCOPED_TRACE(s.name);
    const std::vector<uint16_t> image = take(s);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(fnv1a(image), s.digest) << "0x" << std::hex << fnv1a(image);
  }
  EXPECT_EQ(UcapClose(), 0);
}

}  // namespace
