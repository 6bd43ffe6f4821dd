// Helpers shared by the interpolator tests.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "calibration/color_tables.h"

namespace interp_test {

inline std::unique_ptr<ucap::ColorTables> IdentityGains() {
  auto t = std::make_unique<ucap::ColorTables>();
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < ucap::kTableSize; ++i) t->gain[c][i] = static_cast<uint16_t>(i);
  return t;
}

// A colour image whose word 1 holds the mosaic (row-major, width w) and whose other words
// hold rubbish.
inline std::vector<uint16_t> MosaicImage(const std::vector<uint16_t>& mosaic, int w, int h) {
  std::vector<uint16_t> image(static_cast<size_t>(w) * h * 3, 0xBEEF);
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) image[3 * i + 1] = mosaic[i];
  return image;
}

// Mosaic of a flat colour: red at even/even, blue at odd/odd, green elsewhere.
inline std::vector<uint16_t> ColourMosaic(int w, int h, uint16_t red, uint16_t green,
                                          uint16_t blue) {
  std::vector<uint16_t> m(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      m[static_cast<size_t>(y) * w + x] =
          (x % 2 == 0 && y % 2 == 0) ? red : (x % 2 == 1 && y % 2 == 1) ? blue : green;
  return m;
}

// Word `c` (0 blue, 1 green, 2 red) of pixel (x, y).
inline uint16_t Word(const std::vector<uint16_t>& image, int w, int x, int y, int c) {
  return image[(static_cast<size_t>(y) * w + x) * 3 + c];
}

}  // namespace interp_test
