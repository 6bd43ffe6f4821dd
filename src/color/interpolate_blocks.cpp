// Block interpolation row by row: the mapped red and blue of a row serve two rows each, so
// they are looked up once into per-pixel arrays when their source row changes; the greens
// are looked up per row; then the three arrays are interleaved into the output.
#include <algorithm>
#include <vector>

#include "color/interpolation.h"
#include "core/bands.h"
#include "core/interleave.h"
#include "core/simd.h"

#if UCAP_HAS_AVX2_BUILD
#include <immintrin.h>
#endif

namespace ucap {

namespace {

// Greens of the interior pixels of a row, from x on while x + 1 < n; returns where it
// stopped. Each pixel averages the two greens of its block: one from the row holding
// greens at odd columns (`odds`: the row itself on even rows, the row below on odd ones),
// at column x | 1, and one from the other row (`evens`) at column (x + 1) & ~1.
int32_t interior_greens_plain(uint16_t* greens, const uint16_t* table, const uint16_t* odds,
                              const uint16_t* evens, int32_t x, int32_t n) {
  for (; x + 1 < n; x += 2) {
    greens[x] = table_lookup(table, (odds[x + 1] + evens[x]) >> 1);
    greens[x + 1] = table_lookup(table, (odds[x + 1] + evens[x + 2]) >> 1);
  }
  return x;
}

#if UCAP_HAS_AVX2_BUILD
__attribute__((target("avx2"))) inline __m256i load(const uint16_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The same, the table indices 16 pixels at a time, then the look-ups.
UCAP_AVX2_BUILD int32_t interior_greens_avx2(uint16_t* greens, const uint16_t* table,
                                             const uint16_t* odds, const uint16_t* evens,
                                             int32_t n) {
  const __m256i low_word = _mm256_set1_epi32(0xFFFF), one = _mm256_set1_epi16(1);
  const __m256i full = _mm256_set1_epi16(static_cast<int16_t>(kMaxSample));
  int32_t x = 0;
  for (; x + 16 < n; x += 16) {
    // odds[x | 1] into both words of each pair; evens[x] at even, evens[x + 1] at odd pixels.
    const __m256i o = _mm256_and_si256(load(odds + x + 1), low_word);
    const __m256i a = _mm256_or_si256(o, _mm256_slli_epi32(o, 16));
    const __m256i b = _mm256_blend_epi16(load(evens + x), load(evens + x + 1), 0xAA);
    // (a + b) >> 1 without leaving 16 bits, then at most 4095.
    const __m256i sum =
        _mm256_add_epi16(_mm256_add_epi16(_mm256_srli_epi16(a, 1), _mm256_srli_epi16(b, 1)),
                         _mm256_and_si256(_mm256_and_si256(a, b), one));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(greens + x), _mm256_min_epu16(sum, full));
  }
  for (int32_t i = 0; i < x; ++i) greens[i] = table[greens[i]];
  return interior_greens_plain(greens, table, odds, evens, x, n);
}
#endif

int32_t interior_greens(uint16_t* greens, const uint16_t* table, const uint16_t* odds,
                        const uint16_t* evens, int32_t n) {
#if UCAP_HAS_AVX2_BUILD
  if (simd::avx2()) return interior_greens_avx2(greens, table, odds, evens, n);
#endif
  return interior_greens_plain(greens, table, odds, evens, 0, n);
}

// The mapped samples of one red or blue row for every pixel of a row: pixel x takes the
// sample at column x | 1 (blue) or at the even column min((x + 1) & ~1, w - 2) (red).
void map_blue(uint16_t* dst, const uint16_t* table, const uint16_t* row, int32_t w) {
  for (int32_t x = 0; x < w; x += 2) dst[x] = dst[x + 1] = table_lookup(table, row[x + 1]);
}
void map_red(uint16_t* dst, const uint16_t* table, const uint16_t* row, int32_t w) {
  dst[0] = table_lookup(table, row[0]);
  for (int32_t x = 1; x + 1 < w; x += 2) dst[x] = dst[x + 1] = table_lookup(table, row[x + 1]);
  dst[w - 1] = table_lookup(table, row[w - 2]);
}

}  // namespace

void InterpolateBlocks(const ColorTables& tables, uint16_t* out, const uint16_t* raw,
                       const Rect& rect) {
  const int32_t w = rect.width(), h = rect.height();
  if (out == nullptr || raw == nullptr || !standard_interpolation_fits(w, h)) return;
  const uint16_t* R = tables.gain[kRed];
  const uint16_t* G = tables.gain[kGreen];
  const uint16_t* B = tables.gain[kBlue];
  const size_t W = static_cast<size_t>(w);
  auto at = [&](int32_t x, int32_t y) -> uint32_t { return raw[static_cast<size_t>(y) * W + x]; };

  bands::for_bands(h, 1, 64, [&](int32_t first, int32_t end) {
    std::vector<uint16_t> reds(W), blues(W), greens(W);
    const uint16_t* mapped_red = nullptr;
    const uint16_t* mapped_blue = nullptr;
    for (int32_t y = first; y < end; ++y) {
      // The block's red row (the one above in the last row) and blue row.
      const uint16_t* red_row = raw + static_cast<size_t>(std::min((y + 1) & ~1, h - 2)) * W;
      const uint16_t* blue_row = raw + static_cast<size_t>(y | 1) * W;
      if (red_row != mapped_red) map_red(reds.data(), R, mapped_red = red_row, w);
      if (blue_row != mapped_blue) map_blue(blues.data(), B, mapped_blue = blue_row, w);
      const uint16_t* row = raw + static_cast<size_t>(y) * W;
      const bool last_row = y == h - 1;
      const uint16_t* below = last_row ? row : row + W;
      // Interior columns: both greens of the block lie inside the image.
      const int32_t interior = last_row ? 0 : w - 1;
      int32_t x = y % 2 == 0 ? interior_greens(greens.data(), G, row, below, interior)
                             : interior_greens(greens.data(), G, below, row, interior);
      for (; x < w; ++x) {
        uint32_t green;
        const bool right_in = x + 1 < w, below_in = y + 1 < h;
        if ((x + y) % 2 == 0) {
          if (right_in && below_in) {
            green = (at(x + 1, y) + at(x, y + 1)) >> 1;
          } else if (right_in) {
            green = at(x + 1, y);
          } else if (below_in) {
            green = at(x, y + 1);
          } else {
            green = (at(w - 1, h - 2) + at(w - 2, h - 1)) >> 1;
          }
        } else {
          green = right_in && below_in ? (at(x, y) + at(x + 1, y + 1)) >> 1 : at(x, y);
        }
        greens[x] = table_lookup(G, green);
      }
      interleave_colors(out + static_cast<size_t>(y) * W * 3, blues.data(), greens.data(),
                        reds.data(), w);
    }
  });
}

}  // namespace ucap
