// Helpers shared by the interpolator tests.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "calibration/color_tables.h"

namespace interp_test {

inline std::unique_ptr<ucap::ColorTables> identity_gains() {
  auto t = std::make_unique<ucap::ColorTables>();
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < ucap::kTableSize; ++i) t->gain[c][i] = static_cast<uint16_t>(i);
  return t;
}

// A color image whose word 1 holds the mosaic (row-major, width w) and whose other words
// hold rubbish.
inline std::vector<uint16_t> mosaic_image(const std::vector<uint16_t>& mosaic, int w, int h) {
  std::vector<uint16_t> image(static_cast<size_t>(w) * h * 3, 0xBEEF);
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) image[3 * i + 1] = mosaic[i];
  return image;
}

// Mosaic of a flat color: red at even/even, blue at odd/odd, green elsewhere.
inline std::vector<uint16_t> color_mosaic(int w, int h, uint16_t red, uint16_t green,
                                          uint16_t blue) {
  std::vector<uint16_t> m(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      m[static_cast<size_t>(y) * w + x] =
          (x % 2 == 0 && y % 2 == 0) ? red : (x % 2 == 1 && y % 2 == 1) ? blue : green;
  return m;
}

// Random samples below `limit`.
inline std::vector<uint16_t> random_samples(size_t n, unsigned seed, unsigned limit = 4096) {
  std::mt19937 rng(seed);
  std::vector<uint16_t> v(n);
  for (auto& s : v) s = static_cast<uint16_t>(rng() % limit);
  return v;
}

// mosaic_image with the red and blue samples also copied into their own color words, as
// the high-quality interpolator's first step leaves them.
inline std::vector<uint16_t> seeded_image(const std::vector<uint16_t>& mosaic, int w, int h) {
  std::vector<uint16_t> image = mosaic_image(mosaic, w, h);
  for (int y = 0; y + 1 < h; y += 2)
    for (int x = 0; x + 1 < w; x += 2) {
      image[(static_cast<size_t>(y) * w + x) * 3 + 2] = mosaic[static_cast<size_t>(y) * w + x];
      image[(static_cast<size_t>(y + 1) * w + x + 1) * 3] =
          mosaic[static_cast<size_t>(y + 1) * w + x + 1];
    }
  return image;
}

// Word `c` (0 blue, 1 green, 2 red) of pixel (x, y).
inline uint16_t Word(const std::vector<uint16_t>& image, int w, int x, int y, int c) {
  return image[(static_cast<size_t>(y) * w + x) * 3 + c];
}

}  // namespace interp_test
