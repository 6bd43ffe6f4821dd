#include <algorithm>
#include <memory>
#include <vector>

#include "acquisition/frame_stages.h"
#include "core/bands.h"
#include "core/interleave.h"
#include "core/simd.h"

#if UCAP_HAS_AVX2_BUILD
#include <immintrin.h>
#endif

namespace ucap {

namespace {

// a / b truncated, for non-negative integers a < 2^53 and b > 0 held in doubles whose
// quotient fits 31 bits: the rounded quotient never crosses an integer, and unlike
// integer division this vectorises.
inline double quotient(double a, double b) {
  return static_cast<double>(static_cast<int32_t>(a / b));
}

// The blocks of one row pair, up to kBlocks at a time: the sums gathered from the frame,
// then the arithmetic over plain arrays, then the table look-ups.
constexpr int32_t kBlocks = 256;
struct Blocks {
  // Sums over the block's b columns of each color, and the column after the block (0 when
  // the block is the last of the row).
  double e0[kBlocks] = {}, o0[kBlocks] = {}, e1[kBlocks] = {}, o1[kBlocks] = {};
  double next0[kBlocks] = {}, next1[kBlocks] = {}, has_next[kBlocks] = {};
  // Table indices of the two output pixels: blue, green, red of row 0, then of row 1.
  int32_t index[6][kBlocks] = {};
};

UCAP_KERNEL void assemble_kernel(Blocks& k, int32_t b, int32_t n) {
  const double db = b, h = b / 2;
  for (int32_t i = 0; i < n; ++i) {
    const double divisor = db + k.has_next[i];
    const double E0 = quotient(k.e0[i] + k.next0[i], divisor);
    const double E1 = quotient(k.e1[i] + k.next1[i], divisor);
    const double O0 = quotient(k.o0[i], db), O1 = quotient(k.o1[i], db);
    const double D1 = std::max(32.0, (h + 1) * E1 + h * O1);
    const double D2 = std::max(32.0, (h + 1) * O0 + h * E0);
    const double X = (O1 * E0 - O0 * E1) * (h + 1) * h;
    const double R = std::max(0.0, (2 * h + 1) * E1 * E0 + X);
    const double G = std::max(0.0, (h + 1) * (h + 1) * O0 * E1 - h * h * O1 * E0);
    const double B = std::max(0.0, (2 * h + 1) * O1 * O0 + X);
    const double full = kMaxSample;
    k.index[0][i] = static_cast<int32_t>(std::min(full, quotient(B, D1)));
    k.index[1][i] = static_cast<int32_t>(std::min(full, quotient(G, D1)));
    k.index[2][i] = static_cast<int32_t>(std::min(full, quotient(R, D1)));
    k.index[3][i] = static_cast<int32_t>(std::min(full, quotient(B, D2)));
    k.index[4][i] = static_cast<int32_t>(std::min(full, quotient(G, D2)));
    k.index[5][i] = static_cast<int32_t>(std::min(full, quotient(R, D2)));
  }
}

void assemble_plain(Blocks& k, int32_t b, int32_t n) { assemble_kernel(k, b, n); }
UCAP_AVX2_BUILD void assemble_avx2(Blocks& k, int32_t b, int32_t n) { assemble_kernel(k, b, n); }

void assemble(Blocks& k, int32_t b, int32_t n) {
  if (simd::avx2()) {
    assemble_avx2(k, b, n);
  } else {
    assemble_plain(k, b, n);
  }
}

// Binning 1 with 12-bit samples: the greens' ratios need no more than single precision.
// Every product of two samples is below 2^24 and so exact in a float, and so is the
// truncated quotient of such a product by a divisor d <= 4095: a quotient that is no
// integer lies at least 1 / d below the next one, farther than its rounding (at most
// 2^-24 of a quotient below 2^24 / d) can move it.
struct SingleRows {
  std::vector<uint16_t> plane[6];  // blue, green, red of row 0, then of row 1
  explicit SingleRows(int32_t q) {
    for (auto& p : plane) p.resize(static_cast<size_t>(q));
  }
};

#if UCAP_HAS_AVX2_BUILD
// The blocks [0, n) of a row pair, eight at a time, into `rows`; returns the blocks done:
// those whose eight pieces, the column after them included, lie in the rows and hold
// samples of at most 12 bits.
UCAP_AVX2_BUILD int32_t assemble_single_avx2(const ColorTables& tables, const uint16_t* row0,
                                             const uint16_t* row1, int32_t width,
                                             SingleRows& rows) {
  const __m256i low_word = _mm256_set1_epi32(0xFFFF);
  const __m256i above_12_bits = _mm256_set1_epi16(static_cast<int16_t>(0xF000));
  const __m256 black = _mm256_set1_ps(32.0f), full = _mm256_set1_ps(4095.0f);
  const uint16_t* table[3] = {tables.gain[kBlue], tables.gain[kGreen], tables.gain[kRed]};
  int32_t j = 0;
  for (; 2 * j + 18 <= width; j += 8) {
    const size_t s = 2 * static_cast<size_t>(j);
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row0 + s));
    const __m256i a_next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row0 + s + 2));
    const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row1 + s));
    const __m256i c_next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row1 + s + 2));
    const __m256i any = _mm256_or_si256(_mm256_or_si256(a, a_next), _mm256_or_si256(c, c_next));
    if (!_mm256_testz_si256(any, above_12_bits)) break;
    // Even words (red, green) and odd words (green, blue) of each block; the even sums
    // with the column after the block, halved.
    const __m256i e0 = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_and_si256(a, low_word), _mm256_and_si256(a_next, low_word)), 1);
    const __m256i e1 = _mm256_srli_epi32(
        _mm256_add_epi32(_mm256_and_si256(c, low_word), _mm256_and_si256(c_next, low_word)), 1);
    const __m256 E0 = _mm256_cvtepi32_ps(e0), E1 = _mm256_cvtepi32_ps(e1);
    const __m256 O0 = _mm256_cvtepi32_ps(_mm256_srli_epi32(a, 16));
    const __m256 O1 = _mm256_cvtepi32_ps(_mm256_srli_epi32(c, 16));
    const __m256 D[2] = {_mm256_max_ps(black, E1), _mm256_max_ps(black, O0)};
    const __m256 value[3] = {_mm256_mul_ps(O1, O0), _mm256_mul_ps(O0, E1), _mm256_mul_ps(E1, E0)};
    for (int r = 0; r < 2; ++r) {
      for (int k = 0; k < 3; ++k) {
        const __m256 q = _mm256_min_ps(_mm256_div_ps(value[k], D[r]), full);
        const __m256i index = _mm256_cvttps_epi32(q);
        const __m128i words =
            _mm_packus_epi32(_mm256_castsi256_si128(index), _mm256_extracti128_si256(index, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(rows.plane[3 * r + k].data() + j), words);
      }
    }
  }
  for (int r = 0; r < 2; ++r) {
    for (int k = 0; k < 3; ++k) {
      uint16_t* plane = rows.plane[3 * r + k].data();
      for (int32_t i = 0; i < j; ++i) plane[i] = table[k][plane[i]];
    }
  }
  return j;
}
#endif

}  // namespace

// Every product and sum below stays under 2^53 for 16-bit inputs and b <= 5, so the
// double-precision arithmetic is exact integer arithmetic.
void AssembleHalfColor(const ColorTables& tables, uint16_t* out, const uint16_t* in,
                       int32_t binning, const Rect& rect) {
  const int32_t W = rect.width(), H = rect.height(), b = binning;
  if (out == nullptr || in == nullptr || b < 1 || b > 5 || W <= 0 || H <= 0) return;
  const int32_t Q = W / (2 * b);
  const size_t stride = static_cast<size_t>(W);
  const uint16_t* table[3] = {tables.gain[kBlue], tables.gain[kGreen], tables.gain[kRed]};
  // Whole row pairs and whole blocks only: a last odd row or a block cut off by the right
  // edge has nothing to pair with.
  const bool single = b == 1 && UCAP_HAS_AVX2_BUILD && simd::avx2();
  bands::for_bands(H / 2, 1, 32, [&](int32_t first, int32_t end) {
    Blocks k;
    std::unique_ptr<SingleRows> rows;
    if (single) rows = std::make_unique<SingleRows>(Q);
    for (int32_t p = first; p < end; ++p) {
      const uint16_t* row0 = in + static_cast<size_t>(2 * p) * stride;
      const uint16_t* row1 = row0 + stride;
      uint16_t* out0 = out + static_cast<size_t>(2 * p) * Q * 3;
      uint16_t* out1 = out0 + static_cast<size_t>(Q) * 3;
      int32_t done = 0;
#if UCAP_HAS_AVX2_BUILD
      if (single) {
        done = assemble_single_avx2(tables, row0, row1, W, *rows);
        const auto& plane = rows->plane;
        interleave_colors(out0, plane[0].data(), plane[1].data(), plane[2].data(), done);
        interleave_colors(out1, plane[3].data(), plane[4].data(), plane[5].data(), done);
      }
#endif
      for (int32_t j0 = done; j0 < Q; j0 += kBlocks) {
        const int32_t n = std::min(kBlocks, Q - j0);
        for (int32_t i = 0; i < n; ++i) {
          const int32_t s = 2 * b * (j0 + i);
          int32_t E0 = 0, O0 = 0, E1 = 0, O1 = 0;
          for (int32_t t = 0; t < b; ++t) {
            E0 += row0[s + 2 * t];
            O0 += row0[s + 2 * t + 1];
            E1 += row1[s + 2 * t];
            O1 += row1[s + 2 * t + 1];
          }
          const bool next = s + 2 * b < W;
          k.e0[i] = E0;
          k.o0[i] = O0;
          k.e1[i] = E1;
          k.o1[i] = O1;
          k.has_next[i] = next ? 1.0 : 0.0;
          k.next0[i] = next ? row0[s + 2 * b] : 0;
          k.next1[i] = next ? row1[s + 2 * b] : 0;
        }
        assemble(k, b, n);
        for (int32_t i = 0; i < n; ++i) {
          uint16_t* px0 = out0 + 3 * static_cast<size_t>(j0 + i);
          uint16_t* px1 = out1 + 3 * static_cast<size_t>(j0 + i);
          for (int c = 0; c < 3; ++c) {
            px0[c] = table[c][k.index[c][i]];
            px1[c] = table[c][k.index[3 + c][i]];
          }
        }
      }
    }
  });
}

void AssembleHalfMono(uint16_t* out, const uint16_t* in, int32_t binning, const Rect& rect) {
  const int32_t W = rect.width(), H = rect.height(), b = binning;
  if (out == nullptr || in == nullptr || b < 1 || W <= 0 || H <= 0) return;
  const size_t Q = static_cast<size_t>(W / (2 * b));
  const size_t n = static_cast<size_t>(H) * Q;
  const int32_t span = 2 * b;
  for (size_t i = 0; i < n; ++i) {
    const uint16_t* s = in + static_cast<size_t>(span) * i;
    int32_t sum = 0;
    for (int32_t t = 0; t < span; ++t) sum += s[t];
    out[i] = static_cast<uint16_t>(std::min(kMaxSample, (sum + b) / span));
  }
}

}  // namespace ucap
