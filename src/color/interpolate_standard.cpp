// The standard interpolator runs down the image one cell row at a time, each step as soon
// as the rows it needs are ready, so that the work stays in the cache: samples of row
// t + 1, first ratio and first row median of row t, first column median, refinement and
// second row median of row t - 1, second column median and color of row t - 2. Every
// step reads exactly the values it would read if each step ran over the whole image
// before the next.
//
// The intermediate values live in planar rows of one entry per cell (samples, row-median
// ratios, refined greens), a few rows deep, rather than in the image's spare words, so that
// the arithmetic runs over plain arrays. The samples are read once, from word 1 of the
// image or straight from the raw mosaic through the gain tables, and the finished pixels
// written once. The first green estimate is not kept: the second one replaces it before
// anything reads it.
//
// Each row step exists twice: element by element for every processor (PlainRows), and
// written out in AVX2 (Avx2Rows), which takes the image rows apart and puts the pixels
// together with vector permutes and computes the quotients in single precision with an
// exact correction. Both give every quotient exactly, so the images are the same.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <new>

#include "color/interpolation.h"
#include "core/bands.h"
#include "core/simd.h"

#if UCAP_HAS_AVX2_BUILD
#include <immintrin.h>
#endif

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

inline int32_t mid3(int32_t a, int32_t b, int32_t c) {
  return max_of(min_of(a, b), min_of(max_of(a, b), c));
}

// The four green neighbours of a row of red or blue sites: above, left, right, below.
struct Neighbours {
  const uint16_t* a;
  const uint16_t* l;
  const uint16_t* r;
  const uint16_t* d;
};

// First ratio of each site: the sample held between the two middle neighbours L = g2 and
// U = g3 is the first green, and the ratio is the sample's to that green.
UCAP_KERNEL void first_ratios(const Neighbours& g, const uint16_t* __restrict sample, int32_t n,
                              uint16_t* __restrict ratio) {
  for (int32_t k = 0; k < n; ++k) {
    const int32_t a = g.a[k], l = g.l[k], r = g.r[k], d = g.d[k];
    const int32_t x = max_of(min_of(a, l), min_of(r, d)), y = min_of(max_of(a, l), max_of(r, d));
    const int32_t L = min_of(x, y), U = max_of(x, y);
    const int32_t s = sample[k];
    // The green the ratio is taken against: U above the range, L at or below it, none inside.
    const int32_t against = select(s > U, U, select(s <= L, L, 0));
    const int32_t q = min_of(kMaxRatio, divide(s * kUnit, max_of(against, 1)));
    ratio[k] = static_cast<uint16_t>(select((L == 0) | (against == 0), kUnit, q));
  }
}

// Second green from the column median (of up, mid and down) of the row-median ratio, then
// the refined green and ratio.
UCAP_KERNEL void refinements(const Neighbours& g, const uint16_t* __restrict sample,
                             const uint16_t* __restrict up, const uint16_t* __restrict mid,
                             const uint16_t* __restrict down, int32_t n, uint16_t* __restrict green,
                             uint16_t* __restrict ratio) {
  for (int32_t k = 0; k < n; ++k) {
    const int32_t smoothed = mid3(up[k], mid[k], down[k]);
    const int32_t v = sample[k];
    const int32_t c = min_of(kMaxSample, divide(v * kUnit, smoothed + 1));
    const int32_t a = g.a[k], l = g.l[k], r = g.r[k], d = g.d[k];
    const int32_t lo1 = min_of(a, l), hi1 = max_of(a, l);
    const int32_t lo2 = min_of(r, d), hi2 = max_of(r, d);
    const int32_t g1 = min_of(lo1, lo2), g4 = max_of(max_of(hi1, hi2), 1);
    const int32_t x = max_of(lo1, lo2), y = min_of(hi1, hi2);
    const int32_t g2 = min_of(x, y), g3 = max_of(x, y);
    const int32_t att = kUnit - divide((g4 - g1) * 512, g4);
    const int32_t base = max_of(min_of(max_of(c, g2), g3), 1);
    // At least 1024 - att >= 0.
    const int32_t q = min_of(kMaxRatio, divide((v - base) * att, base) + kUnit);
    const bool none = g2 == 0;
    green[k] = static_cast<uint16_t>(select(none, 0, base));
    ratio[k] = static_cast<uint16_t>(select(none, kUnit, q));
  }
}

// Median of each ratio with its left and right neighbours; the first and last cells pass
// their own ratio on (the middle value of x, x, y is x). `ratio` has a spare entry on
// either side.
UCAP_KERNEL void row_median(uint16_t* __restrict ratio, int32_t n, uint16_t* __restrict out) {
  ratio[-1] = ratio[0];
  ratio[n] = ratio[n - 1];
  for (int32_t k = 0; k < n; ++k)
    out[k] = static_cast<uint16_t>(mid3(ratio[k - 1], ratio[k], ratio[k + 1]));
}

inline uint32_t Color(uint32_t green, uint32_t ratio) {
  return std::min<uint32_t>(kMaxSample, (green * ratio + 512) >> 10);
}

// The cells' samples from word 1 of the red-site row `top` and the blue-site row `bottom`,
// from cell k0 on.
struct Samples {
  uint16_t* red;
  uint16_t* gr;
  uint16_t* gb;
  uint16_t* blue;
};
UCAP_KERNEL void extract_from(const uint16_t* top, const uint16_t* bottom, int32_t k0, int32_t n,
                              const Samples& s) {
  for (int32_t k = k0; k < n; ++k) {
    const size_t at = 6 * static_cast<size_t>(k);
    s.red[k] = top[at + 1];
    s.gr[k] = top[at + 4];
    s.gb[k] = bottom[at + 1];
    s.blue[k] = bottom[at + 4];
  }
}

// The same from the raw mosaic rows `top` and `bottom` through the channel gain tables.
UCAP_KERNEL void map_from(const uint16_t* top, const uint16_t* bottom, const ColorTables& tables,
                          int32_t k0, int32_t n, const Samples& s) {
  for (int32_t k = k0; k < n; ++k) {
    const size_t at = 2 * static_cast<size_t>(k);
    s.red[k] = table_lookup(tables.gain[kRed], top[at]);
    s.gr[k] = table_lookup(tables.gain[kGreen], top[at + 1]);
    s.gb[k] = table_lookup(tables.gain[kGreen], bottom[at]);
    s.blue[k] = table_lookup(tables.gain[kBlue], bottom[at + 1]);
  }
}

// One cell row's finished pixels, from cell k0 on: the greens of its four sites and the
// column medians of its row-median ratios.
struct ColorRow {
  const uint16_t* red_green;
  const uint16_t* gr;
  const uint16_t* gb;
  const uint16_t* blue_green;
  const uint16_t* red[3];   // row-median red ratios of the rows above, here and below
  const uint16_t* blue[3];  // the same of blue
};
UCAP_KERNEL void colors_from(const ColorRow& c, int32_t k0, int32_t n, uint16_t* top,
                             uint16_t* bottom) {
  for (int32_t k = k0; k < n; ++k) {
    const uint32_t fr = static_cast<uint32_t>(mid3(c.red[0][k], c.red[1][k], c.red[2][k]));
    const uint32_t fb = static_cast<uint32_t>(mid3(c.blue[0][k], c.blue[1][k], c.blue[2][k]));
    const uint32_t green[4] = {c.red_green[k], c.gr[k], c.gb[k], c.blue_green[k]};
    uint16_t* px[4] = {top + 6 * static_cast<size_t>(k), top + 6 * static_cast<size_t>(k) + 3,
                       bottom + 6 * static_cast<size_t>(k),
                       bottom + 6 * static_cast<size_t>(k) + 3};
    for (int p = 0; p < 4; ++p) {
      px[p][0] = static_cast<uint16_t>(Color(green[p], fb));
      px[p][1] = static_cast<uint16_t>(green[p]);
      px[p][2] = static_cast<uint16_t>(Color(green[p], fr));
    }
  }
}

// The row steps for every processor.
struct PlainRows {
  static void first(const Neighbours& g, const uint16_t* sample, int32_t n, uint16_t* ratio) {
    first_ratios(g, sample, n, ratio);
  }
  static void refine(const Neighbours& g, const uint16_t* sample, const uint16_t* up,
                     const uint16_t* mid, const uint16_t* down, int32_t n, uint16_t* green,
                     uint16_t* ratio) {
    refinements(g, sample, up, mid, down, n, green, ratio);
  }
  static void extract(const uint16_t* top, const uint16_t* bottom, int32_t n, const Samples& s) {
    extract_from(top, bottom, 0, n, s);
  }
  static void map(const uint16_t* top, const uint16_t* bottom, const ColorTables& tables, int32_t n,
                  const Samples& s) {
    map_from(top, bottom, tables, 0, n, s);
  }
  static void colors(const ColorRow& c, int32_t n, uint16_t* top, uint16_t* bottom) {
    colors_from(c, 0, n, top, bottom);
  }
};

#if UCAP_HAS_AVX2_BUILD
#define UCAP_AVX2_INLINE inline __attribute__((target("avx2"), always_inline))

// Element k of the result is element i_k of v.
UCAP_AVX2_INLINE __m256i perm(__m256i v, int i0, int i1, int i2, int i3, int i4, int i5, int i6,
                              int i7) {
  return _mm256_permutevar8x32_epi32(v, _mm256_setr_epi32(i0, i1, i2, i3, i4, i5, i6, i7));
}

// Eight cells of one pixel row (48 words) as two vectors of eight 32-bit values: word 1
// and word 4 of each cell.
UCAP_AVX2_INLINE void split_cells(const uint16_t* p, __m256i& w1, __m256i& w4) {
  const __m256i d0 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i d1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 16));
  const __m256i d2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  // Word 1 of cell k is the high half of double word 3k, word 4 the low half of 3k + 2.
  // Blending d0, d1 and d2 in turns gathers the double words 3k (or 3k + 2) of all eight
  // cells, out of order; one permute sorts them.
  const __m256i a =
      perm(_mm256_blend_epi32(_mm256_blend_epi32(d0, d1, 0x92), d2, 0x24), 0, 3, 6, 1, 4, 7, 2, 5);
  const __m256i b =
      perm(_mm256_blend_epi32(_mm256_blend_epi32(d1, d2, 0x92), d0, 0x24), 2, 5, 0, 3, 6, 1, 4, 7);
  w1 = _mm256_srli_epi32(a, 16);
  w4 = _mm256_and_si256(b, _mm256_set1_epi32(0xFFFF));
}

// The gain table entries of the samples of eight cells of one raw row (16 words): of the
// even columns through `even`, of the odd ones through `odd`. Each entry is read as a
// double word and its high half dropped; after the last entry of a gain table come more
// tables, so that read stays inside them.
static_assert(offsetof(ColorTables, term) == sizeof(ColorTables::gain));
UCAP_AVX2_INLINE void map_cells(const uint16_t* p, const uint16_t* even, const uint16_t* odd,
                                __m256i& e, __m256i& o) {
  const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  const __m256i low = _mm256_set1_epi32(0xFFFF), top = _mm256_set1_epi32(kMaxSample);
  const __m256i ie = _mm256_min_epu32(_mm256_and_si256(d, low), top);
  const __m256i io = _mm256_min_epu32(_mm256_srli_epi32(d, 16), top);
  e = _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(even), ie, 2), low);
  o = _mm256_and_si256(_mm256_i32gather_epi32(reinterpret_cast<const int*>(odd), io, 2), low);
}

// Two vectors of eight 32-bit values below 65536 as sixteen words: first x, then y.
UCAP_AVX2_INLINE __m256i pack_words(__m256i x, __m256i y) {
  return _mm256_permute4x64_epi64(_mm256_packus_epi32(x, y), 0xD8);
}

// The samples of eight cells from k on.
UCAP_AVX2_INLINE void store_samples(const Samples& s, int32_t k, __m256i red, __m256i gr,
                                    __m256i gb, __m256i blue) {
  const __m256i rg = pack_words(red, gr), bb = pack_words(gb, blue);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(s.red + k), _mm256_castsi256_si128(rg));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(s.gr + k), _mm256_extracti128_si256(rg, 1));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(s.gb + k), _mm256_castsi256_si128(bb));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(s.blue + k), _mm256_extracti128_si256(bb, 1));
}

// Three vectors of eight double words interleaved: p0 q0 r0 p1 q1 r1 ... into out[0..23].
UCAP_AVX2_INLINE void store_interleaved(uint16_t* out, __m256i p, __m256i q, __m256i r) {
  // Permuted so that each output takes every third double word from each of them:
  // p' = p0 p3 p6 p1 p4 p7 p2 p5, q' = q5 q0 q3 q6 q1 q4 q7 q2, r' = r2 r5 r0 r3 r6 r1 r4 r7.
  const __m256i p1 = perm(p, 0, 3, 6, 1, 4, 7, 2, 5);
  const __m256i q1 = perm(q, 5, 0, 3, 6, 1, 4, 7, 2);
  const __m256i r1 = perm(r, 2, 5, 0, 3, 6, 1, 4, 7);
  // p0 q0 r0 p1 q1 r1 p2 q2, r2 p3 q3 r3 p4 q4 r4 p5, q5 r5 p6 q6 r6 p7 q7 r7
  const __m256i o0 = _mm256_blend_epi32(_mm256_blend_epi32(p1, q1, 0x92), r1, 0x24);
  const __m256i o1 = _mm256_blend_epi32(_mm256_blend_epi32(r1, p1, 0x92), q1, 0x24);
  const __m256i o2 = _mm256_blend_epi32(_mm256_blend_epi32(q1, r1, 0x92), p1, 0x24);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), o0);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), o1);
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), o2);
}

// Eight words as double words, and back (values below 65536).
UCAP_AVX2_INLINE __m256i load8(const uint16_t* p) {
  return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
UCAP_AVX2_INLINE void store8(uint16_t* p, __m256i v) {
  const __m256i w = _mm256_permute4x64_epi64(_mm256_packus_epi32(v, v), 0x08);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(w));
}

// min(floor(a / b), cap) for 0 <= a < 2^27 held exactly by a float (below 2^24, or a 16-bit
// value times a power of two), 1 <= b <= 65536 and cap < 2^24, eight at a time.
// The float quotient f is a / b correctly rounded, and a / b lies in [q, q + 1) with q the
// exact quotient; q and q + 1 are floats as long as q < 2^24, so f lies in [q, q + 1] and
// truncates to q or q + 1; once q >= 2^24, f >= 2^24 > cap. So t = min(trunc(f), cap + 1) is
// q or q + 1 when q <= cap, and cap + 1 <= q otherwise; the remainder a - t * b (no more than
// a + b in size) is negative exactly when t = q + 1.
UCAP_AVX2_INLINE __m256i quotient(__m256i a, __m256i b, int32_t cap) {
  const __m256 f = _mm256_div_ps(_mm256_cvtepi32_ps(a), _mm256_cvtepi32_ps(b));
  const __m256i t =
      _mm256_cvttps_epi32(_mm256_min_ps(f, _mm256_set1_ps(static_cast<float>(cap + 1))));
  const __m256i r = _mm256_sub_epi32(a, _mm256_mullo_epi32(t, b));
  return _mm256_min_epi32(_mm256_add_epi32(t, _mm256_srai_epi32(r, 31)), _mm256_set1_epi32(cap));
}
// a / b truncated toward zero in double precision, as divide().
UCAP_AVX2_INLINE __m256i divide8(__m256i a, __m256i b) {
  const __m128i lo =
      _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(a)),
                                        _mm256_cvtepi32_pd(_mm256_castsi256_si128(b))));
  const __m128i hi =
      _mm256_cvttpd_epi32(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(a, 1)),
                                        _mm256_cvtepi32_pd(_mm256_extracti128_si256(b, 1))));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

UCAP_AVX2_INLINE __m256i select8(__m256i c, __m256i a, __m256i b) {
  return _mm256_blendv_epi8(b, a, c);
}

// first_ratios and refinements eight sites at a time, with the quotients above; the
// refined ratio's dividend can exceed what a float holds, and then comes from divide8.
UCAP_AVX2_INLINE __m256i first_ratios8(const Neighbours& g, const uint16_t* sample, int32_t k) {
  const __m256i a = load8(g.a + k), l = load8(g.l + k), r = load8(g.r + k), d = load8(g.d + k);
  const __m256i x = _mm256_max_epi32(_mm256_min_epi32(a, l), _mm256_min_epi32(r, d));
  const __m256i y = _mm256_min_epi32(_mm256_max_epi32(a, l), _mm256_max_epi32(r, d));
  const __m256i L = _mm256_min_epi32(x, y), U = _mm256_max_epi32(x, y);
  const __m256i s = load8(sample + k), zero = _mm256_setzero_si256();
  const __m256i against =
      select8(_mm256_cmpgt_epi32(s, U), U, _mm256_andnot_si256(_mm256_cmpgt_epi32(s, L), L));
  const __m256i q = quotient(_mm256_slli_epi32(s, 10),
                             _mm256_max_epi32(against, _mm256_set1_epi32(1)), kMaxRatio);
  const __m256i none =
      _mm256_or_si256(_mm256_cmpeq_epi32(L, zero), _mm256_cmpeq_epi32(against, zero));
  return select8(none, _mm256_set1_epi32(kUnit), q);
}

UCAP_AVX2_INLINE void refinements8(const Neighbours& g, const uint16_t* sample, const uint16_t* up,
                                   const uint16_t* mid, const uint16_t* down, int32_t k,
                                   uint16_t* green, uint16_t* ratio) {
  const __m256i u = load8(up + k), m = load8(mid + k), w = load8(down + k);
  const __m256i smoothed =
      _mm256_max_epi32(_mm256_min_epi32(u, m), _mm256_min_epi32(_mm256_max_epi32(u, m), w));
  const __m256i one = _mm256_set1_epi32(1), zero = _mm256_setzero_si256();
  const __m256i v = load8(sample + k);
  const __m256i c = quotient(_mm256_slli_epi32(v, 10), _mm256_add_epi32(smoothed, one), kMaxSample);
  const __m256i a = load8(g.a + k), l = load8(g.l + k), r = load8(g.r + k), d = load8(g.d + k);
  const __m256i lo1 = _mm256_min_epi32(a, l), hi1 = _mm256_max_epi32(a, l);
  const __m256i lo2 = _mm256_min_epi32(r, d), hi2 = _mm256_max_epi32(r, d);
  const __m256i g1 = _mm256_min_epi32(lo1, lo2);
  const __m256i g4 = _mm256_max_epi32(_mm256_max_epi32(hi1, hi2), one);
  const __m256i x = _mm256_max_epi32(lo1, lo2), y = _mm256_min_epi32(hi1, hi2);
  const __m256i g2 = _mm256_min_epi32(x, y), g3 = _mm256_max_epi32(x, y);
  // (g4 - g1) * 512 / g4 <= 512.
  const __m256i att = _mm256_sub_epi32(
      _mm256_set1_epi32(kUnit), quotient(_mm256_slli_epi32(_mm256_sub_epi32(g4, g1), 9), g4, 512));
  const __m256i base = _mm256_max_epi32(_mm256_min_epi32(_mm256_max_epi32(c, g2), g3), one);
  const __m256i num = _mm256_mullo_epi32(_mm256_sub_epi32(v, base), att);
  const __m256i size = _mm256_abs_epi32(num);
  __m256i q;
  if (_mm256_movemask_epi8(_mm256_cmpgt_epi32(size, _mm256_set1_epi32((1 << 24) - 1))) == 0) {
    // Past kMaxRatio - kUnit the ratio is kMaxRatio whatever the quotient.
    q = _mm256_sign_epi32(quotient(size, base, kMaxRatio - kUnit + 1), num);
  } else {
    q = divide8(num, base);
  }
  const __m256i q1 =
      _mm256_min_epi32(_mm256_add_epi32(q, _mm256_set1_epi32(kUnit)), _mm256_set1_epi32(kMaxRatio));
  const __m256i none = _mm256_cmpeq_epi32(g2, zero);
  store8(green + k, _mm256_andnot_si256(none, base));
  store8(ratio + k, select8(none, _mm256_set1_epi32(kUnit), q1));
}
UCAP_AVX2_INLINE __m256i mid3_8(const uint16_t* const (&rows)[3], int32_t k) {
  const __m256i a = load8(rows[0] + k), b = load8(rows[1] + k), c = load8(rows[2] + k);
  return _mm256_max_epi32(_mm256_min_epi32(a, b), _mm256_min_epi32(_mm256_max_epi32(a, b), c));
}
UCAP_AVX2_INLINE __m256i color8(__m256i green, __m256i ratio) {
  const __m256i v = _mm256_srli_epi32(
      _mm256_add_epi32(_mm256_mullo_epi32(green, ratio), _mm256_set1_epi32(512)), 10);
  return _mm256_min_epu32(v, _mm256_set1_epi32(kMaxSample));
}
// The pixels (blue, green, red) of two sites with greens g0 and g1 as three vectors of
// double words, stored interleaved.
UCAP_AVX2_INLINE void store_sites(uint16_t* out, __m256i g0, __m256i g1, __m256i fr, __m256i fb) {
  const __m256i p = _mm256_or_si256(color8(g0, fb), _mm256_slli_epi32(g0, 16));
  const __m256i q = _mm256_or_si256(color8(g0, fr), _mm256_slli_epi32(color8(g1, fb), 16));
  const __m256i r = _mm256_or_si256(g1, _mm256_slli_epi32(color8(g1, fr), 16));
  store_interleaved(out, p, q, r);
}

// The row steps in AVX2, eight cells at a time and the rest of a row element by element.
// They are called once per row; noinline keeps them out of the callers' lambdas, which are
// not compiled for AVX2.
#define UCAP_AVX2_ROW __attribute__((target("avx2"), noinline))
struct Avx2Rows {
  UCAP_AVX2_ROW static void first(const Neighbours& g, const uint16_t* sample, int32_t n,
                                  uint16_t* ratio) {
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) store8(ratio + k, first_ratios8(g, sample, k));
    first_ratios(Neighbours{g.a + k, g.l + k, g.r + k, g.d + k}, sample + k, n - k, ratio + k);
  }
  UCAP_AVX2_ROW static void refine(const Neighbours& g, const uint16_t* sample, const uint16_t* up,
                                   const uint16_t* mid, const uint16_t* down, int32_t n,
                                   uint16_t* green, uint16_t* ratio) {
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) refinements8(g, sample, up, mid, down, k, green, ratio);
    refinements(Neighbours{g.a + k, g.l + k, g.r + k, g.d + k}, sample + k, up + k, mid + k,
                down + k, n - k, green + k, ratio + k);
  }
  UCAP_AVX2_ROW static void extract(const uint16_t* top, const uint16_t* bottom, int32_t n,
                                    const Samples& s) {
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
      const size_t at = 6 * static_cast<size_t>(k);
      __m256i red, gr, gb, blue;
      split_cells(top + at, red, gr);
      split_cells(bottom + at, gb, blue);
      store_samples(s, k, red, gr, gb, blue);
    }
    extract_from(top, bottom, k, n, s);
  }
  UCAP_AVX2_ROW static void map(const uint16_t* top, const uint16_t* bottom,
                                const ColorTables& tables, int32_t n, const Samples& s) {
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
      const size_t at = 2 * static_cast<size_t>(k);
      __m256i red, gr, gb, blue;
      map_cells(top + at, tables.gain[kRed], tables.gain[kGreen], red, gr);
      map_cells(bottom + at, tables.gain[kGreen], tables.gain[kBlue], gb, blue);
      store_samples(s, k, red, gr, gb, blue);
    }
    map_from(top, bottom, tables, k, n, s);
  }
  UCAP_AVX2_ROW static void colors(const ColorRow& c, int32_t n, uint16_t* top, uint16_t* bottom) {
    int32_t k = 0;
    for (; k + 8 <= n; k += 8) {
      const __m256i fr = mid3_8(c.red, k), fb = mid3_8(c.blue, k);
      const size_t at = 6 * static_cast<size_t>(k);
      store_sites(top + at, load8(c.red_green + k), load8(c.gr + k), fr, fb);
      store_sites(bottom + at, load8(c.gb + k), load8(c.blue_green + k), fr, fb);
    }
    colors_from(c, k, n, top, bottom);
  }
};
#undef UCAP_AVX2_ROW
#undef UCAP_AVX2_INLINE
#endif

// The cell rows of a w x h color image.
class Cells {
 public:
  Cells(uint16_t* image, int32_t w, int32_t h)
      : image_(image), stride_(3 * static_cast<size_t>(w)), cx_(w / 2), cy_(h / 2) {}

  int32_t cx() const { return cx_; }
  int32_t cy() const { return cy_; }
  // The red-site row and the blue-site row of cell row j.
  uint16_t* top(int32_t j) const { return image_ + 2 * static_cast<size_t>(j) * stride_; }
  uint16_t* bottom(int32_t j) const { return top(j) + stride_; }

 private:
  uint16_t* image_;
  size_t stride_;
  int32_t cx_, cy_;
};

// The planar rows, each of cx entries with kSpare spare entries on either side: samples of
// four cell rows, row-median first and refined ratios of three, refined greens of two, and
// two rows for ratios before their row median.
constexpr int32_t kSpare = 16;
constexpr int32_t kPlanes = 4 * 4 + 2 * 3 + 2 * 3 + 2 * 2 + 2;
// Images up to the sensor's width keep them on the stack.
constexpr int32_t kStackCells = (kMaxSensorWidth / 2 + 15) / 16 * 16;

constexpr size_t plane_stride(int32_t cx) {
  return static_cast<size_t>((cx + 15) / 16 * 16 + 2 * kSpare);
}

class Planes {
 public:
  Planes(uint16_t* base, int32_t cx) : base_(base), stride_(plane_stride(cx)) {}
  uint16_t* at(int32_t index) const {
    return base_ + static_cast<size_t>(index) * stride_ + kSpare;
  }
  // Samples of cell row j.
  Samples samples(int32_t j) const {
    const int32_t s = 4 * (j % 4);
    return {at(s), at(s + 1), at(s + 2), at(s + 3)};
  }
  // Row-median first (pass 0) or refined (pass 1) ratios of red (color 0) or blue (1) of
  // cell row j.
  uint16_t* median(int32_t pass, int32_t color, int32_t j) const {
    return at(16 + 6 * pass + 2 * (j % 3) + color);
  }
  uint16_t* green(int32_t color, int32_t j) const { return at(28 + 2 * (j % 2) + color); }
  uint16_t* ratio(int32_t color) const { return at(32 + color); }

 private:
  uint16_t* base_;
  size_t stride_;
};

// A run of the interpolator over the cell rows of `cells`, whose pixels it writes in cell
// rows [write_begin, write_end). The samples are word 1 of the same image, or with a
// mosaic the raw samples of its rows (`mosaic_stride` words apart, row 0 that of the
// image) through the channel gain tables.
struct Run {
  Cells cells;
  int32_t write_begin, write_end;
  const uint16_t* mosaic = nullptr;
  size_t mosaic_stride = 0;
  const ColorTables* tables = nullptr;
};

template <typename Rows>
UCAP_KERNEL void interpolate_rows(const Run& run, const Planes& planes) {
  const Cells& cells = run.cells;
  const int32_t n = cells.cx(), cy = cells.cy();
  const auto last = [cy](int32_t j) { return std::min(j, cy - 1); };
  const auto first = [](int32_t j) { return std::max(j, 0); };
  // Samples of row j; the spare entries stand for the missing left neighbour of the first
  // red site and the missing right one of the last blue site.
  const auto extract = [&](int32_t j) {
    const Samples s = planes.samples(j);
    if (run.mosaic != nullptr) {
      const uint16_t* top = run.mosaic + 2 * static_cast<size_t>(j) * run.mosaic_stride;
      Rows::map(top, top + run.mosaic_stride, *run.tables, n, s);
    } else {
      Rows::extract(cells.top(j), cells.bottom(j), n, s);
    }
    s.gr[-1] = s.gr[0];
    s.gb[n] = s.gb[n - 1];
  };
  const auto red_neighbours = [&](int32_t j) {
    const Samples here = planes.samples(j);
    const Samples up = planes.samples(first(j - 1));
    return Neighbours{up.gb, here.gr - 1, here.gr, here.gb};
  };
  const auto blue_neighbours = [&](int32_t j) {
    const Samples here = planes.samples(j);
    const Samples down = planes.samples(last(j + 1));
    return Neighbours{here.gr, here.gb, here.gb + 1, down.gr};
  };
  extract(0);
  for (int32_t t = 0; t < cy + 2; ++t) {
    if (t + 1 < cy) extract(t + 1);
    if (t < cy) {
      const Samples s = planes.samples(t);
      Rows::first(red_neighbours(t), s.red, n, planes.ratio(0));
      Rows::first(blue_neighbours(t), s.blue, n, planes.ratio(1));
      for (int32_t color = 0; color < 2; ++color) {
        row_median(planes.ratio(color), n, planes.median(0, color, t));
      }
    }
    if (t >= 1 && t - 1 < cy) {
      const int32_t j = t - 1;
      const Samples s = planes.samples(j);
      for (int32_t color = 0; color < 2; ++color) {
        Rows::refine(color == 0 ? red_neighbours(j) : blue_neighbours(j),
                     color == 0 ? s.red : s.blue, planes.median(0, color, first(j - 1)),
                     planes.median(0, color, j), planes.median(0, color, last(j + 1)), n,
                     planes.green(color, j), planes.ratio(color));
        row_median(planes.ratio(color), n, planes.median(1, color, j));
      }
    }
    if (t - 2 >= run.write_begin && t - 2 < run.write_end) {
      const int32_t j = t - 2;
      const Samples s = planes.samples(j);
      const ColorRow c{planes.green(0, j),
                       s.gr,
                       s.gb,
                       planes.green(1, j),
                       {planes.median(1, 0, first(j - 1)), planes.median(1, 0, j),
                        planes.median(1, 0, last(j + 1))},
                       {planes.median(1, 1, first(j - 1)), planes.median(1, 1, j),
                        planes.median(1, 1, last(j + 1))}};
      Rows::colors(c, n, cells.top(j), cells.bottom(j));
    }
  }
}

void interpolate_rows_plain(const Run& run, const Planes& planes) {
  interpolate_rows<PlainRows>(run, planes);
}
#if UCAP_HAS_AVX2_BUILD
UCAP_AVX2_BUILD void interpolate_rows_avx2(const Run& run, const Planes& planes) {
  interpolate_rows<Avx2Rows>(run, planes);
}
#endif

void interpolate(const Run& run) {
  const int32_t cx = run.cells.cx();
  alignas(16) uint16_t stack[kPlanes * plane_stride(kStackCells)];
  uint16_t* base = stack;
  // Wider than the sensor: the planes come from the heap, and without them nothing is done.
  std::unique_ptr<uint16_t[]> heap;
  if (cx > kStackCells) {
    heap.reset(new (std::nothrow) uint16_t[kPlanes * plane_stride(cx)]);
    if (!heap) return;
    base = heap.get();
  }
  const Planes planes(base, cx);
#if UCAP_HAS_AVX2_BUILD
  if (simd::avx2()) {
    interpolate_rows_avx2(run, planes);
    return;
  }
#endif
  interpolate_rows_plain(run, planes);
}

// Cell rows a band computes beyond its own on either side: values computed at a band's
// false top or bottom edge spread 3 cell rows inwards (first ratios 1, column median of
// the refinement 1, final column median 1).
constexpr int32_t kHaloCells = 4;
constexpr int32_t kBandCells = 64;

}  // namespace

void InterpolateStandard(int32_t width, int32_t height, uint16_t* image) {
  if (image == nullptr || !standard_interpolation_fits(width, height)) return;
  interpolate(Run{Cells(image, width, height), 0, height / 2});
}

void interpolate_standard_mosaic(const ColorTables& tables, uint16_t* out, const uint16_t* raw,
                                 int32_t width, int32_t height) {
  if (out == nullptr || raw == nullptr || !standard_interpolation_fits(width, height)) return;
  // The raw mosaic stays as it is, so bands need no copies of their neighbours' rows: each
  // reads its halo from the mosaic and writes only its own rows.
  const int32_t cy = height / 2;
  const size_t stride = static_cast<size_t>(width);
  bands::for_bands(cy, 1, kBandCells, [&](int32_t begin, int32_t end) {
    const int32_t first = std::max(0, begin - kHaloCells), last = std::min(cy, end + kHaloCells);
    const size_t row = 2 * static_cast<size_t>(first);
    interpolate(Run{Cells(out + row * 3 * stride, width, 2 * (last - first)), begin - first,
                    end - first, raw + row * stride, stride, &tables});
  });
}

}  // namespace ucap
