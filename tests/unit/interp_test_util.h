// Helpers shared by the unit tests of the stages.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "acquisition/raw_stages.h"
#include "calibration/color_tables.h"

namespace interp_test {

inline std::unique_ptr<ucap::ColorTables> identity_gains() {
  auto t = std::make_unique<ucap::ColorTables>();
  for (int c = 0; c < 3; ++c)
    for (int i = 0; i < ucap::kTableSize; ++i) t->gain[c][i] = static_cast<uint16_t>(i);
  return t;
}

// A color image whose word 1 holds the mosaic and whose other words hold rubbish.
inline std::vector<uint16_t> mosaic_image(const std::vector<uint16_t>& mosaic, int w, int h) {
  std::vector<uint16_t> image(static_cast<size_t>(w) * h * 3, 0xBEEF);
  for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) image[3 * i + 1] = mosaic[i];
  return image;
}

// Random samples below `limit`.
inline std::vector<uint16_t> random_samples(size_t n, unsigned seed, unsigned limit = 4096) {
  std::mt19937 rng(seed);
  std::vector<uint16_t> v(n);
  for (auto& s : v) s = static_cast<uint16_t>(rng() % limit);
  return v;
}

// References of a small sensor, filled by the test.
struct Refs {
  int32_t w, h;
  std::vector<uint16_t> black, white;
  Refs(int32_t width, int32_t height, int16_t dark = 0, int16_t gain = 4096)
      : w(width),
        h(height),
        black((height + 2) * width, static_cast<uint16_t>(dark)),
        white(height * width, static_cast<uint16_t>(gain)) {
    for (int x = 0; x < w; ++x) black[h * w + x] = 0;
  }
  uint16_t& dark(int x, int y) { return black[y * w + x]; }
  uint16_t& offset(int x) { return black[h * w + x]; }
  uint16_t& gain(int x, int y) { return white[y * w + x]; }
  ucap::ReferenceView view() const { return {black.data(), white.data(), w, h}; }
};

}  // namespace interp_test
