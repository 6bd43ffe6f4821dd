// The standard (color-ratio) interpolator.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "color/interpolation.h"
#include "core/simd.h"
#include "interp_test_util.h"

namespace {

using interp_test::mosaic_image;

// A plain model of the interpolator, step after step over the whole image with separate
// arrays per cell, to check the in-place implementation on arbitrary frames.
std::vector<uint16_t> model_interpolation(const std::vector<uint16_t>& mosaic, int w, int h) {
  const int cx = w / 2, cy = h / 2;
  auto G = [&](const std::vector<int>& green, int x, int y) { return green[y * w + x]; };
  std::vector<int> green(mosaic.begin(), mosaic.end());
  std::vector<int> red(cx * cy), blue(cx * cy), rr(cx * cy), rb(cx * cy);
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i) {
      red[j * cx + i] = mosaic[2 * j * w + 2 * i];
      blue[j * cx + i] = mosaic[(2 * j + 1) * w + 2 * i + 1];
    }
  // The four green neighbours of a site, sorted.
  auto neighbours = [&](int x, int y) {
    std::vector<int> n;
    const bool red_site = x % 2 == 0;
    const int below = red_site ? G(green, x, y + 1) : y + 1 < h ? G(green, x, y + 1) : G(green, x, y - 1);
    const int above = red_site ? (y > 0 ? G(green, x, y - 1) : below) : G(green, x, y - 1);
    const int right = red_site ? G(green, x + 1, y) : x + 1 < w ? G(green, x + 1, y) : G(green, x - 1, y);
    const int left = red_site ? (x > 0 ? G(green, x - 1, y) : right) : G(green, x - 1, y);
    n = {above, left, right, below};
    std::sort(n.begin(), n.end());
    return n;
  };
  auto median = [&](std::vector<int>& ratio) {
    auto at = [&](const std::vector<int>& v, int i, int j) {
      return v[std::clamp(j, 0, cy - 1) * cx + std::clamp(i, 0, cx - 1)];
    };
    auto mid = [](int a, int b, int c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); };
    std::vector<int> rows(cx * cy);
    for (int j = 0; j < cy; ++j)
      for (int i = 0; i < cx; ++i)
        rows[j * cx + i] = mid(at(ratio, i - 1, j), at(ratio, i, j), at(ratio, i + 1, j));
    for (int j = 0; j < cy; ++j)
      for (int i = 0; i < cx; ++i)
        ratio[j * cx + i] = mid(at(rows, i, j - 1), at(rows, i, j), at(rows, i, j + 1));
  };
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i)
      for (int site = 0; site < 2; ++site) {
        const int x = 2 * i + site, y = 2 * j + site;
        const auto n = neighbours(x, y);
        const int s = site == 0 ? red[j * cx + i] : blue[j * cx + i];
        int g, ratio;
        if (n[1] == 0) g = 0, ratio = 1024;
        else if (s > n[2]) g = n[2], ratio = std::min(65535, s * 1024 / n[2]);
        else if (s <= n[1]) g = n[1], ratio = s * 1024 / n[1];
        else g = s, ratio = 1024;
        green[y * w + x] = g;
        (site == 0 ? rr : rb)[j * cx + i] = ratio;
      }
  median(rr);
  median(rb);
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i) {
      green[2 * j * w + 2 * i] = std::min(4095, red[j * cx + i] * 1024 / (rr[j * cx + i] + 1));
      green[(2 * j + 1) * w + 2 * i + 1] = std::min(4095, blue[j * cx + i] * 1024 / (rb[j * cx + i] + 1));
    }
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i)
      for (int site = 0; site < 2; ++site) {
        const int x = 2 * i + site, y = 2 * j + site;
        const auto n = neighbours(x, y);
        const int c = green[y * w + x], v = site == 0 ? red[j * cx + i] : blue[j * cx + i];
        int g, ratio;
        if (n[1] == 0) {
          g = 0, ratio = 1024;
        } else {
          const int a = 1024 - (n[3] - n[0]) * 512 / n[3];
          g = c > n[2] ? n[2] : c > n[1] ? c : n[1];
          ratio = std::min(65535, (v - g) * a / g + 1024);
        }
        green[y * w + x] = g;
        (site == 0 ? rr : rb)[j * cx + i] = ratio;
      }
  median(rr);
  median(rb);
  std::vector<uint16_t> out(w * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int cell = (y / 2) * cx + x / 2, g = green[y * w + x];
      out[(y * w + x) * 3 + 0] = static_cast<uint16_t>(std::min(4095, (g * rb[cell] + 512) >> 10));
      out[(y * w + x) * 3 + 1] = static_cast<uint16_t>(g);
      out[(y * w + x) * 3 + 2] = static_cast<uint16_t>(std::min(4095, (g * rr[cell] + 512) >> 10));
    }
  return out;
}

TEST(InterpolateStandard, AgreesWithAStepByStepModelOnArbitraryFrames) {
  std::mt19937 rng(6);
  for (int trial = 0; trial < 60; ++trial) {
    // Widths past one batch of cells too.
    const int w = trial < 3 ? 2 * (128 * (trial + 1) + 1) : 4 + 2 * static_cast<int>(rng() % 20);
    const int h = 2 + 2 * static_cast<int>(rng() % 12);
    std::vector<uint16_t> mosaic(w * h);
    const int kind = trial % 3;
    for (auto& v : mosaic)
      v = static_cast<uint16_t>(kind == 0 ? rng() % 4096 : kind == 1 ? (rng() % 6 == 0 ? 0 : 900 + rng() % 300)
                                                               : (rng() % 2 ? 4095 : rng() % 20));
    auto image = mosaic_image(mosaic, w, h);
    ucap::InterpolateStandard(w, h, image.data());
    ASSERT_EQ(image, model_interpolation(mosaic, w, h)) << w << "x" << h << " kind " << kind;
  }
}

// Word 1 of the image may hold any 16-bit value: the AVX2 build's quotients then meet their
// largest dividends and their caps, and must still give the plain build's image. Trial 0
// is a flat field (red and blue 36860, greens 10 and 399) whose refined ratios divide
// 19142025 exactly by 399, a dividend no float holds; the others are random, with widths
// that leave every remainder of the eight-cell vector steps.
TEST(InterpolateStandard, Avx2BuildGivesThePlainImageForAnySamples) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 24; ++trial) {
    const int w = 2 * (16 + trial), h = 2 + 2 * (trial % 5);
    std::vector<uint16_t> mosaic(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < mosaic.size(); ++i) {
      const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
      mosaic[i] = static_cast<uint16_t>(trial == 0 ? (x % 2 == y % 2 ? 36860 : y % 2 ? 399 : 10)
                                        : trial % 2 ? rng()
                                        : rng() % 3 ? 60000 + rng() % 5536
                                                    : rng() % 8);
    }
    auto plain = mosaic_image(mosaic, w, h), wide = plain;
    ucap::simd::allow_avx2(false);
    ucap::InterpolateStandard(w, h, plain.data());
    ucap::simd::allow_avx2(true);
    ucap::InterpolateStandard(w, h, wide.data());
    ASSERT_EQ(plain, wide) << w << "x" << h;
  }
}

}  // namespace
