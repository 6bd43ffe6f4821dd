// The standard interpolator keeps every intermediate value in the image itself:
//
//   site  word 0                          word 1                    word 2
//   R     second row-filtered red ratio   red sample, then green    red ratio
//   Gr    copy of the cell's blue         green sample              first row-filtered red ratio
//   Gb    first row-filtered blue ratio   green sample              copy of the cell's red
//   B     blue ratio                      blue sample, then green   second row-filtered blue ratio
//
// Ratios are unsigned 16-bit with 1024 = 1.0. The steps run cell row by cell row, each as
// soon as the rows it needs are ready, so that the work stays in the cache: first green
// and ratio (row t), first median and refinement (row t - 1), second median (row t - 2),
// color (row t - 3). Every step reads exactly the values it would read if each step ran
// over the whole image before the next.
#include <algorithm>
#include <cstddef>

#include "color/color_bands.h"
#include "color/interpolation.h"
#include "core/bands.h"
#include "core/simd.h"

namespace ucap {

namespace {

constexpr int32_t kUnit = 1024;
constexpr int32_t kMaxRatio = 65535;

inline int32_t min_of(int32_t a, int32_t b) { return a < b ? a : b; }
inline int32_t max_of(int32_t a, int32_t b) { return a > b ? a : b; }
// c ? a : b written with masks, which the vectoriser takes where it refuses branches.
inline int32_t select(bool c, int32_t a, int32_t b) {
  const int32_t m = -static_cast<int32_t>(c);
  return (a & m) | (b & ~m);
}

// a / b truncated toward zero, for |a| < 2^31 and b != 0. The quotient of two such
// integers in double precision never rounds across an integer, so this is exactly the
// integer division; unlike it, it vectorises.
inline int32_t divide(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<double>(a) / static_cast<double>(b));
}

inline uint16_t mid3(uint16_t a, uint16_t b, uint16_t c) {
  return std::max(std::min(a, b), std::min(std::max(a, b), c));
}
inline int32_t mid3(int32_t a, int32_t b, int32_t c) { return max_of(min_of(a, b), min_of(max_of(a, b), c)); }

// The red or blue sites of up to kBatch cells of one row, laid out so that the arithmetic
// runs over plain arrays: the divisions are the costly part, and in this form the
// compiler computes several at once. The arithmetic always runs over the whole batch (a
// fixed trip count vectorises even at -O2); entries past n hold earlier valid inputs or
// zeros and their results are not used.
constexpr int32_t kBatch = 128;
struct Batch {
  int32_t n = 0;
  // The four green neighbours (above, left, right, below) and the site's own sample.
  int32_t a[kBatch] = {}, l[kBatch] = {}, r[kBatch] = {}, d[kBatch] = {}, sample[kBatch] = {};
  // Refinement only: the first row-filtered ratios of the cell and of the cells above and
  // below it.
  int32_t up[kBatch] = {}, mid[kBatch] = {}, down[kBatch] = {};
  int32_t green[kBatch] = {}, ratio[kBatch] = {};
};

// The two middle values of four: g2 and g3 of the ascending order.
inline void middle(int32_t a, int32_t b, int32_t c, int32_t d, int32_t& g2, int32_t& g3) {
  const int32_t x = max_of(min_of(a, b), min_of(c, d)), y = min_of(max_of(a, b), max_of(c, d));
  g2 = min_of(x, y);
  g3 = max_of(x, y);
}

// First green and ratio of every site: the sample held between the two middle neighbours
// L = g2 and U = g3, and the sample's ratio to that green.
UCAP_KERNEL void first_estimates_kernel(Batch& b) {
  for (int32_t k = 0; k < kBatch; ++k) {
    int32_t L, U;
    middle(b.a[k], b.l[k], b.r[k], b.d[k], L, U);
    const int32_t s = b.sample[k];
    // The green the ratio is taken against: U above the range, L at or below it, none inside.
    const int32_t against = select(s > U, U, select(s <= L, L, 0));
    const int32_t q = min_of(kMaxRatio, divide(s * kUnit, max_of(against, 1)));
    const bool none = L == 0;
    b.green[k] = select(none, 0, min_of(max_of(s, L), U));
    b.ratio[k] = select(none | (against == 0), kUnit, q);
  }
}

// Second green from the column-filtered ratio, then the refined green and ratio.
UCAP_KERNEL void refinements_kernel(Batch& b) {
  for (int32_t k = 0; k < kBatch; ++k) {
    const int32_t smoothed = mid3(b.up[k], b.mid[k], b.down[k]);
    const int32_t v = b.sample[k];
    const int32_t c = min_of(kMaxSample, divide(v * kUnit, smoothed + 1));
    const int32_t lo1 = min_of(b.a[k], b.l[k]), hi1 = max_of(b.a[k], b.l[k]);
    const int32_t lo2 = min_of(b.r[k], b.d[k]), hi2 = max_of(b.r[k], b.d[k]);
    const int32_t g1 = min_of(lo1, lo2), g4 = max_of(max_of(hi1, hi2), 1);
    const int32_t x = max_of(lo1, lo2), y = min_of(hi1, hi2);
    const int32_t g2 = min_of(x, y), g3 = max_of(x, y);
    const int32_t att = kUnit - divide((g4 - g1) * 512, g4);
    const int32_t base = max_of(min_of(max_of(c, g2), g3), 1);
    // At least 1024 - att >= 0.
    const int32_t ratio = min_of(kMaxRatio, divide((v - base) * att, base) + kUnit);
    const bool none = g2 == 0;
    b.green[k] = select(none, 0, base);
    b.ratio[k] = select(none, kUnit, ratio);
  }
}

inline uint16_t Color(uint32_t green, uint32_t ratio) {
  return static_cast<uint16_t>(std::min<uint32_t>(kMaxSample, (green * ratio + 512) >> 10));
}

// Red and blue of the four pixels of up to kBatch cells from their greens and the cells'
// final ratios.
struct ColorBatch {
  uint32_t red_ratio[kBatch] = {}, blue_ratio[kBatch] = {}, green[4][kBatch] = {};
  uint16_t red[4][kBatch] = {}, blue[4][kBatch] = {};
};
UCAP_KERNEL void colors_kernel(ColorBatch& c) {
  for (int p = 0; p < 4; ++p) {
    for (int32_t k = 0; k < kBatch; ++k) {
      c.red[p][k] = Color(c.green[p][k], c.red_ratio[k]);
      c.blue[p][k] = Color(c.green[p][k], c.blue_ratio[k]);
    }
  }
}

void first_estimates_plain(Batch& b) { first_estimates_kernel(b); }
void refinements_plain(Batch& b) { refinements_kernel(b); }
void colors_plain(ColorBatch& c) { colors_kernel(c); }
UCAP_AVX2_BUILD void first_estimates_avx2(Batch& b) { first_estimates_kernel(b); }
UCAP_AVX2_BUILD void refinements_avx2(Batch& b) { refinements_kernel(b); }
UCAP_AVX2_BUILD void colors_avx2(ColorBatch& c) { colors_kernel(c); }

void first_estimates(Batch& b) {
  if (simd::avx2()) {
    first_estimates_avx2(b);
  } else {
    first_estimates_plain(b);
  }
}
void Refinements(Batch& b) {
  if (simd::avx2()) {
    refinements_avx2(b);
  } else {
    refinements_plain(b);
  }
}

// Word offsets of the four sites of cell i within its two pixel rows.
inline size_t r_at(int32_t i) { return 6 * static_cast<size_t>(i); }
inline size_t gr_at(int32_t i) { return 6 * static_cast<size_t>(i) + 3; }
inline size_t gb_at(int32_t i) { return 6 * static_cast<size_t>(i); }
inline size_t b_at(int32_t i) { return 6 * static_cast<size_t>(i) + 3; }

class Cells {
 public:
  // The image, contiguous or as a table of its h row pointers.
  Cells(uint16_t* image, int32_t w, int32_t h)
      : image_(image), stride_(3 * static_cast<size_t>(w)), cx_(w / 2), cy_(h / 2) {}
  Cells(uint16_t* const* rows, int32_t w, int32_t h) : rows_(rows), cx_(w / 2), cy_(h / 2) {}

  int32_t cx() const { return cx_; }
  int32_t cy() const { return cy_; }
  // The red-site row and the blue-site row of cell row j.
  uint16_t* row(int32_t r) const {
    return rows_ != nullptr ? rows_[r] : image_ + static_cast<size_t>(r) * stride_;
  }
  uint16_t* top(int32_t j) const { return row(2 * j); }
  uint16_t* bottom(int32_t j) const { return row(2 * j + 1); }

  // Green neighbours of the red sites of cells i0.. of row j into the batch: the pixel
  // below stands for the missing one above in the top row, the one to the right for the
  // missing left one.
  void red_neighbours(int32_t i0, int32_t j, Batch& out) const {
    const uint16_t* t = top(j);
    const uint16_t* b = bottom(j);
    const uint16_t* above = j == 0 ? b : bottom(j - 1);
    for (int32_t k = 0; k < out.n; ++k) {
      const int32_t i = i0 + k;
      out.a[k] = above[r_at(i) + 1];
      out.r[k] = t[gr_at(i) + 1];
      out.l[k] = i == 0 ? out.r[k] : t[r_at(i) - 2];
      out.d[k] = b[gb_at(i) + 1];
    }
  }
  // Green neighbours of the blue sites, mirrored likewise at the bottom row and the right
  // column.
  void blue_neighbours(int32_t i0, int32_t j, Batch& out) const {
    const uint16_t* t = top(j);
    const uint16_t* b = bottom(j);
    const uint16_t* below = j + 1 == cy_ ? t : top(j + 1);
    for (int32_t k = 0; k < out.n; ++k) {
      const int32_t i = i0 + k;
      out.a[k] = t[gr_at(i) + 1];
      out.l[k] = b[gb_at(i) + 1];
      out.r[k] = i + 1 == cx_ ? out.l[k] : b[b_at(i) + 4];
      out.d[k] = below[b_at(i) + 1];
    }
  }

  // Runs `compute` over the red and the blue sites of cell row j, a batch at a time:
  // `fill(i, k, red, blue)` adds what the computation needs besides the neighbours for
  // cell i at batch entry k; the new green and ratio of each site go back into its words.
  template <typename Fill, typename Compute>
  void sites(int32_t j, Fill fill, Compute compute) const {
    uint16_t* t = top(j);
    uint16_t* b = bottom(j);
    Batch red, blue;
    for (int32_t i0 = 0; i0 < cx_; i0 += kBatch) {
      red.n = blue.n = std::min(kBatch, cx_ - i0);
      red_neighbours(i0, j, red);
      blue_neighbours(i0, j, blue);
      for (int32_t k = 0; k < red.n; ++k) fill(i0 + k, k, red, blue);
      compute(red);
      compute(blue);
      for (int32_t k = 0; k < red.n; ++k) {
        const int32_t i = i0 + k;
        t[r_at(i) + 1] = static_cast<uint16_t>(red.green[k]);
        t[r_at(i) + 2] = static_cast<uint16_t>(red.ratio[k]);
        b[b_at(i) + 1] = static_cast<uint16_t>(blue.green[k]);
        b[b_at(i) + 0] = static_cast<uint16_t>(blue.ratio[k]);
      }
    }
  }

  // Copies of the samples, first green and ratio, first row filter of cell row j.
  void first(int32_t j) const {
    uint16_t* t = top(j);
    uint16_t* b = bottom(j);
    sites(
        j,
        [&](int32_t i, int32_t k, Batch& red, Batch& blue) {
          red.sample[k] = b[gb_at(i) + 2] = t[r_at(i) + 1];
          blue.sample[k] = t[gr_at(i) + 0] = b[b_at(i) + 1];
        },
        first_estimates);
    row_filter(t, r_at(0) + 2, t, gr_at(0) + 2);
    row_filter(b, b_at(0) + 0, b, gb_at(0) + 0);
  }

  // First column filter, second green, refinement and second row filter of cell row j.
  void refinement(int32_t j) const {
    uint16_t* t = top(j);
    uint16_t* b = bottom(j);
    const uint16_t* tu = top(std::max(j - 1, 0));
    const uint16_t* td = top(std::min(j + 1, cy_ - 1));
    const uint16_t* bu = bottom(std::max(j - 1, 0));
    const uint16_t* bd = bottom(std::min(j + 1, cy_ - 1));
    sites(
        j,
        [&](int32_t i, int32_t k, Batch& red, Batch& blue) {
          const size_t gr = gr_at(i) + 2, gb = gb_at(i) + 0;
          red.up[k] = tu[gr];
          red.mid[k] = t[gr];
          red.down[k] = td[gr];
          red.sample[k] = b[gb_at(i) + 2];
          blue.up[k] = bu[gb];
          blue.mid[k] = b[gb];
          blue.down[k] = bd[gb];
          blue.sample[k] = t[gr_at(i) + 0];
        },
        Refinements);
    row_filter(t, r_at(0) + 2, t, r_at(0) + 0);
    row_filter(b, b_at(0) + 0, b, b_at(0) + 2);
  }

  // Second column filter of cell row j: the final ratios.
  void final_ratios(int32_t j) const {
    uint16_t* t = top(j);
    uint16_t* b = bottom(j);
    const uint16_t* tu = top(std::max(j - 1, 0));
    const uint16_t* td = top(std::min(j + 1, cy_ - 1));
    const uint16_t* bu = bottom(std::max(j - 1, 0));
    const uint16_t* bd = bottom(std::min(j + 1, cy_ - 1));
    for (int32_t i = 0; i < cx_; ++i) {
      const size_t r = r_at(i) + 0, bl = b_at(i) + 2;
      t[r_at(i) + 2] = mid3(tu[r], t[r], td[r]);
      b[b_at(i) + 0] = mid3(bu[bl], b[bl], bd[bl]);
    }
  }

  // Red and blue of the four pixels of every cell of row j.
  void Colors(int32_t j, ColorBatch& c) const {
    uint16_t* t = top(j);
    uint16_t* b = bottom(j);
    const bool wide = simd::avx2();
    for (int32_t i0 = 0; i0 < cx_; i0 += kBatch) {
      const int32_t n = std::min(kBatch, cx_ - i0);
      for (int32_t k = 0; k < n; ++k) {
        const int32_t i = i0 + k;
        c.red_ratio[k] = t[r_at(i) + 2];
        c.blue_ratio[k] = b[b_at(i) + 0];
        c.green[0][k] = t[r_at(i) + 1];
        c.green[1][k] = t[gr_at(i) + 1];
        c.green[2][k] = b[gb_at(i) + 1];
        c.green[3][k] = b[b_at(i) + 1];
      }
      if (wide) {
        colors_avx2(c);
      } else {
        colors_plain(c);
      }
      for (int32_t k = 0; k < n; ++k) {
        const int32_t i = i0 + k;
        uint16_t* px[4] = {t + r_at(i), t + gr_at(i), b + gb_at(i), b + b_at(i)};
        for (int p = 0; p < 4; ++p) {
          px[p][2] = c.red[p][k];
          px[p][0] = c.blue[p][k];
        }
      }
    }
  }

 private:
  // Median of each ratio (at word `from` of every cell's site) with its left and right
  // neighbours into word `to`; the first and last cells pass their own ratio on.
  void row_filter(const uint16_t* src, size_t from, uint16_t* dst, size_t to) const {
    if (cx_ == 1) {
      dst[to] = src[from];
      return;
    }
    dst[to] = mid3(src[from], src[from], src[from + 6]);
    for (int32_t i = 1; i + 1 < cx_; ++i) {
      const size_t k = 6 * static_cast<size_t>(i);
      dst[to + k] = mid3(src[from + k - 6], src[from + k], src[from + k + 6]);
    }
    const size_t last = 6 * static_cast<size_t>(cx_ - 1);
    dst[to + last] = mid3(src[from + last - 6], src[from + last], src[from + last]);
  }

  uint16_t* image_ = nullptr;
  size_t stride_ = 0;
  uint16_t* const* rows_ = nullptr;
  int32_t cx_, cy_;
};

}  // namespace

namespace {

void interpolate_cells(const Cells& cells) {
  const int32_t cy = cells.cy();
  ColorBatch colors;
  for (int32_t t = 0; t < cy + 3; ++t) {
    if (t < cy) cells.first(t);
    if (t >= 1 && t - 1 < cy) cells.refinement(t - 1);
    if (t >= 2 && t - 2 < cy) cells.final_ratios(t - 2);
    if (t >= 3) cells.Colors(t - 3, colors);
  }
}

// Rows a band computes beyond its own on either side (run_color_bands). Values computed at
// a band's false top or bottom edge spread 3 cell rows inwards (first estimates 1, column
// filter of the refinement 1, final column filter 1).
constexpr int32_t kHalo = 8;
constexpr int32_t kBandRows = 128;

}  // namespace

void InterpolateStandard(int32_t width, int32_t height, uint16_t* image) {
  if (image == nullptr || !standard_interpolation_fits(width, height)) return;
  interpolate_cells(Cells(image, width, height));
}

void interpolate_standard_bands(int32_t width, int32_t height, uint16_t* image,
                                const StageServices& services) {
  if (image == nullptr || !standard_interpolation_fits(width, height)) return;
  if (bands::threads() <= 1 || height < 2 * kBandRows) {
    InterpolateStandard(width, height, image);
    return;
  }
  const bool split = for_color_bands(
      width, height, image, kHalo, kBandRows, 0, services,
      [&](const ColorBand& band) { interpolate_cells(Cells(band.rows, width, band.height)); });
  if (!split) InterpolateStandard(width, height, image);
}

}  // namespace ucap
