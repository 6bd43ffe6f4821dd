// The processed images of a fixed mosaic are the same on every platform and with or
// without the AVX2 builds of the kernels: their digests were taken from the first,
// plain single-threaded implementation of the stages on Linux. (The Windows stage runs
// this test under Wine against the DLL's code.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "acquisition/frame_stages.h"
#include "color/interpolation.h"
#include "core/color_table_types.h"
#include "core/simd.h"
#include "flow/stage_adapters.h"

namespace {

constexpr int kW = 518, kH = 390;

std::vector<uint16_t> fixed_mosaic() {
  std::vector<uint16_t> m(static_cast<size_t>(kW) * kH);
  uint32_t state = 12345;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      state = state * 1664525u + 1013904223u;
      // Soft gradients, a level per mosaic color, noise and a few saturated spots.
      const int base = 400 + (x * 5 + y * 3) % 2600 + ((x / 37 + y / 23) % 2) * 500;
      const int color = (x % 2 == 0 && y % 2 == 0) ? 9 : (x % 2 == 1 && y % 2 == 1) ? 6 : 10;
      int v = base * color / 10 + static_cast<int>(state >> 27) - 16;
      if ((state >> 8) % 997 == 0) v = 4095;
      m[static_cast<size_t>(y) * kW + x] = static_cast<uint16_t>(std::clamp(v, 0, 4095));
    }
  }
  return m;
}

std::unique_ptr<ucap::ColorTables> fixed_tables() {
  auto t = std::make_unique<ucap::ColorTables>();
  const int gain[3] = {1370, 1000, 1930};  // per mille
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < ucap::kTableSize; ++i)
      t->gain[c][i] = static_cast<uint16_t>(std::min(4095, i * gain[c] / 1000));
  const int matrix[9] = {5200, -800, -300, -700, 5000, -200, -100, -900, 5100};  // 4096 = 1
  for (int k = 0; k < 9; ++k)
    for (int x = 0; x < ucap::kTableSize; ++x)
      t->term[k][x] = static_cast<uint16_t>(std::clamp(4096 + x * matrix[k] / 4096, 0, 65535));
  for (int s = 0; s < ucap::kOutputTableSpan; ++s)
    t->output[s] = static_cast<uint16_t>(std::clamp(s - 12288, 0, 4095));
  return t;
}

uint64_t digest(const std::vector<uint16_t>& words, uint64_t h = 1469598103934665603ull) {
  for (uint16_t w : words) {
    for (int b = 0; b < 2; ++b) {
      h ^= static_cast<uint8_t>(w >> (8 * b));
      h *= 1099511628211ull;
    }
  }
  return h;
}

TEST(ImageDigest, StagesGiveTheReferenceImagesWithAndWithoutAvx2) {
  const auto mosaic = fixed_mosaic();
  const auto tables = fixed_tables();
  const size_t n = mosaic.size();
  const ucap::Rect rect{0, 0, kW, kH};
  for (bool avx2 : {true, false}) {
    ucap::simd::allow_avx2(avx2);
    std::vector<uint16_t> standard(3 * n), high(3 * n), blocks(3 * n), half(3 * n / 2);
    ucap::InterpolateColor(*tables, standard.data(), mosaic.data(), rect, 1,
                           ucap::library_services());
    ucap::InterpolateColor(*tables, high.data(), mosaic.data(), rect, 2, ucap::library_services());
    ucap::ApplyColorMatrix(*tables, 1, high.data(), static_cast<int32_t>(n));
    ucap::InterpolateBlocks(*tables, blocks.data(), mosaic.data(), rect);
    ucap::AssembleHalfColor(*tables, half.data(), mosaic.data(), 1, rect);
    EXPECT_EQ(digest(standard), 0xcc7d0ed95b373d8full) << "AVX2 allowed: " << avx2;
    EXPECT_EQ(digest(high), 0x35e78e849330b71eull) << "AVX2 allowed: " << avx2;
    EXPECT_EQ(digest(blocks), 0x95fbe093d6c5be05ull) << "AVX2 allowed: " << avx2;
    EXPECT_EQ(digest(half), 0xe40d969def90908eull) << "AVX2 allowed: " << avx2;
  }
  ucap::simd::allow_avx2(true);
}

// Words above 12 bits (a frame that is no 12-bit mosaic) take the paths built for them in
// every build alike.
TEST(ImageDigest, WordsAbove12BitsGiveTheSameImagesWithAndWithoutAvx2) {
  auto mosaic = fixed_mosaic();
  for (size_t i = 0; i < mosaic.size(); i += 97) mosaic[i] = static_cast<uint16_t>(4096 + i % 61439);
  const auto tables = fixed_tables();
  const size_t n = mosaic.size();
  const ucap::Rect rect{0, 0, kW, kH};
  std::vector<uint16_t> images[2][2];
  for (bool avx2 : {true, false}) {
    ucap::simd::allow_avx2(avx2);
    auto& [blocks, half] = images[avx2];
    blocks.resize(3 * n);
    half.resize(3 * n / 2);
    ucap::InterpolateBlocks(*tables, blocks.data(), mosaic.data(), rect);
    ucap::AssembleHalfColor(*tables, half.data(), mosaic.data(), 1, rect);
  }
  ucap::simd::allow_avx2(true);
  EXPECT_EQ(images[0][0], images[1][0]) << "blocks";
  EXPECT_EQ(images[0][1], images[1][1]) << "half resolution";
}

}  // namespace
