// The standard interpolator keeps every intermediate value in the image itself:
//
//   site  word 0                       word 1                     word 2
//   R     -                            red sample, then green     red ratio
//   Gr    copy of the cell's blue      green sample               row-filtered red ratio
//   Gb    row-filtered blue ratio      green sample               copy of the cell's red
//   B     blue ratio                   blue sample, then green    -
//
// Ratios are unsigned 16-bit with 1024 = 1.0.
#include <algorithm>
#include <cstddef>

#include "color/interpolation.h"

namespace ucap {

namespace {

constexpr int32_t kUnit = 1024;

struct Green4 {
  int32_t g1, g2, g3, g4;  // ascending
};

inline Green4 Sorted(int32_t a, int32_t b, int32_t c, int32_t d) {
  if (a > b) std::swap(a, b);
  if (c > d) std::swap(c, d);
  if (a > c) std::swap(a, c);
  if (b > d) std::swap(b, d);
  if (b > c) std::swap(b, c);
  return {a, b, c, d};
}

inline uint16_t Mid3(uint16_t a, uint16_t b, uint16_t c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

class Image {
 public:
  Image(uint16_t* data, int32_t w, int32_t h)
      : data_(data), w_(w), h_(h), stride_(static_cast<size_t>(w) * 3) {}
  uint16_t* at(int32_t x, int32_t y) const {
    return data_ + static_cast<size_t>(y) * stride_ + static_cast<size_t>(x) * 3;
  }
  int32_t green(int32_t x, int32_t y) const { return at(x, y)[1]; }

  // The four green neighbours of the red site of cell (i, j); the one below stands for the
  // missing one above in the top row, the one to the right for the missing left one.
  Green4 AroundRed(int32_t i, int32_t j) const {
    const int32_t x = 2 * i, y = 2 * j;
    const int32_t right = green(x + 1, y), below = green(x, y + 1);
    const int32_t above = j == 0 ? below : green(x, y - 1);
    const int32_t left = i == 0 ? right : green(x - 1, y);
    return Sorted(above, left, right, below);
  }
  // The four green neighbours of the blue site of cell (i, j), mirrored likewise at the
  // bottom row and the right column.
  Green4 AroundBlue(int32_t i, int32_t j) const {
    const int32_t x = 2 * i + 1, y = 2 * j + 1;
    const int32_t above = green(x, y - 1), left = green(x - 1, y);
    const int32_t right = x + 1 < w_ ? green(x + 1, y) : left;
    const int32_t below = y + 1 < h_ ? green(x, y + 1) : above;
    return Sorted(above, left, right, below);
  }

  int32_t cells_x() const { return w_ / 2; }
  int32_t cells_y() const { return h_ / 2; }

  // Ratio slots and their row-filtered scratch slots.
  uint16_t& red_ratio(int32_t i, int32_t j) const { return at(2 * i, 2 * j)[2]; }
  uint16_t& blue_ratio(int32_t i, int32_t j) const { return at(2 * i + 1, 2 * j + 1)[0]; }
  uint16_t& red_row_filtered(int32_t i, int32_t j) const { return at(2 * i + 1, 2 * j)[2]; }
  uint16_t& blue_row_filtered(int32_t i, int32_t j) const { return at(2 * i, 2 * j + 1)[0]; }
  // Copies of the samples.
  uint16_t& red_sample(int32_t i, int32_t j) const { return at(2 * i, 2 * j + 1)[2]; }
  uint16_t& blue_sample(int32_t i, int32_t j) const { return at(2 * i + 1, 2 * j)[0]; }
  uint16_t& red_green(int32_t i, int32_t j) const { return at(2 * i, 2 * j)[1]; }
  uint16_t& blue_green(int32_t i, int32_t j) const { return at(2 * i + 1, 2 * j + 1)[1]; }

 private:
  uint16_t* data_;
  int32_t w_, h_;
  size_t stride_;
};

// First green and ratio of a site with sample s.
inline void FirstEstimate(int32_t s, const Green4& n, uint16_t& green, uint16_t& ratio) {
  const int32_t L = n.g2, U = n.g3;
  if (L == 0) {
    green = 0;
    ratio = kUnit;
  } else if (s > U) {
    green = static_cast<uint16_t>(U);
    ratio = static_cast<uint16_t>(std::min<int64_t>(65535, static_cast<int64_t>(s) * kUnit / U));
  } else if (s <= L) {
    green = static_cast<uint16_t>(L);
    ratio = static_cast<uint16_t>(std::min<int64_t>(65535, static_cast<int64_t>(s) * kUnit / L));
  } else {
    green = static_cast<uint16_t>(s);
    ratio = kUnit;
  }
}

// Refined green and ratio of a site with second green c and sample v.
inline void Refine(int32_t c, int32_t v, const Green4& n, uint16_t& green, uint16_t& ratio) {
  if (n.g2 == 0) {
    green = 0;
    ratio = kUnit;
    return;
  }
  const int64_t a = kUnit - static_cast<int64_t>(n.g4 - n.g1) * 512 / n.g4;
  int32_t base;
  if (c > n.g3) {
    base = n.g3;
  } else if (c > n.g2) {
    base = c;
  } else {
    base = n.g2;
  }
  green = static_cast<uint16_t>(base);
  const int64_t r = (static_cast<int64_t>(v) - base) * a / base + kUnit;
  ratio = static_cast<uint16_t>(std::clamp<int64_t>(r, 0, 65535));
}

// Separable 3 x 3 median of both ratios on their cell lattices; a missing neighbour is
// replaced by the centre.
void RatioMedian(const Image& im) {
  const int32_t cx = im.cells_x(), cy = im.cells_y();
  for (int32_t j = 0; j < cy; ++j) {
    for (int32_t i = 0; i < cx; ++i) {
      const int32_t il = i > 0 ? i - 1 : i, ir = i + 1 < cx ? i + 1 : i;
      im.red_row_filtered(i, j) =
          Mid3(im.red_ratio(il, j), im.red_ratio(i, j), im.red_ratio(ir, j));
      im.blue_row_filtered(i, j) =
          Mid3(im.blue_ratio(il, j), im.blue_ratio(i, j), im.blue_ratio(ir, j));
    }
  }
  for (int32_t j = 0; j < cy; ++j) {
    const int32_t ju = j > 0 ? j - 1 : j, jd = j + 1 < cy ? j + 1 : j;
    for (int32_t i = 0; i < cx; ++i) {
      im.red_ratio(i, j) = Mid3(im.red_row_filtered(i, ju), im.red_row_filtered(i, j),
                                im.red_row_filtered(i, jd));
      im.blue_ratio(i, j) = Mid3(im.blue_row_filtered(i, ju), im.blue_row_filtered(i, j),
                                 im.blue_row_filtered(i, jd));
    }
  }
}

}  // namespace

void InterpolateStandard(int32_t width, int32_t height, uint16_t* image) {
  if (image == nullptr || !StandardInterpolationFits(width, height)) return;
  const Image im(image, width, height);
  const int32_t cx = im.cells_x(), cy = im.cells_y();

  // 1. Copies of the red and blue samples.
  for (int32_t j = 0; j < cy; ++j) {
    for (int32_t i = 0; i < cx; ++i) {
      im.red_sample(i, j) = im.red_green(i, j);
      im.blue_sample(i, j) = im.blue_green(i, j);
    }
  }
  // 2. First green and ratio.
  for (int32_t j = 0; j < cy; ++j) {
    for (int32_t i = 0; i < cx; ++i) {
      FirstEstimate(im.red_green(i, j), im.AroundRed(i, j), im.red_green(i, j),
                    im.red_ratio(i, j));
      FirstEstimate(im.blue_green(i, j), im.AroundBlue(i, j), im.blue_green(i, j),
                    im.blue_ratio(i, j));
    }
  }
  // 3. Smooth the ratios.
  RatioMedian(im);
  // 4. Second green from the smoothed ratios.
  for (int32_t j = 0; j < cy; ++j) {
    for (int32_t i = 0; i < cx; ++i) {
      im.red_green(i, j) = static_cast<uint16_t>(
          std::min<int64_t>(kMaxSample, static_cast<int64_t>(im.red_sample(i, j)) * kUnit /
                                            (im.red_ratio(i, j) + 1)));
      im.blue_green(i, j) = static_cast<uint16_t>(
          std::min<int64_t>(kMaxSample, static_cast<int64_t>(im.blue_sample(i, j)) * kUnit /
                                            (im.blue_ratio(i, j) + 1)));
    }
  }
  // 5. Refinement with contrast attenuation.
  for (int32_t j = 0; j < cy; ++j) {
    for (int32_t i = 0; i < cx; ++i) {
      Refine(im.red_green(i, j), im.red_sample(i, j), im.AroundRed(i, j), im.red_green(i, j),
             im.red_ratio(i, j));
      Refine(im.blue_green(i, j), im.blue_sample(i, j), im.AroundBlue(i, j),
             im.blue_green(i, j), im.blue_ratio(i, j));
    }
  }
  // 6. Smooth again.
  RatioMedian(im);
  // 7. Colour: the cell's ratios times the green of each of its pixels.
  for (int32_t j = 0; j < cy; ++j) {
    for (int32_t i = 0; i < cx; ++i) {
      const uint32_t rr = im.red_ratio(i, j), rb = im.blue_ratio(i, j);
      for (int32_t dy = 0; dy < 2; ++dy) {
        for (int32_t dx = 0; dx < 2; ++dx) {
          uint16_t* p = im.at(2 * i + dx, 2 * j + dy);
          const uint32_t g = p[1];
          p[2] = static_cast<uint16_t>(std::min<uint32_t>(kMaxSample, (g * rr + 512) >> 10));
          p[0] = static_cast<uint16_t>(std::min<uint32_t>(kMaxSample, (g * rb + 512) >> 10));
        }
      }
    }
  }
}

}  // namespace ucap
