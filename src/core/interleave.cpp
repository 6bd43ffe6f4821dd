#include "core/interleave.h"

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/simd.h"

#if UCAP_HAS_AVX2_BUILD
#include <immintrin.h>
#endif

namespace ucap {

namespace {

// out[3x..3x+2] = blue[x], green[x], red[x] for x < n.
void interleave_plain(uint16_t* out, const uint16_t* blue, const uint16_t* green,
                      const uint16_t* red, int32_t n) {
  for (int32_t x = 0; x < n; ++x) {
    out[3 * x] = blue[x];
    out[3 * x + 1] = green[x];
    out[3 * x + 2] = red[x];
  }
}

#if UCAP_HAS_AVX2_BUILD
// Byte shuffles that place the words of eight pixels of one channel into the three
// 8-word pieces of their interleaved form (0x80: a zero byte).
struct InterleaveMasks {
  alignas(16) std::array<std::array<std::array<uint8_t, 16>, 3>, 3> at{};  // [piece][channel]
  constexpr InterleaveMasks() {
    for (int piece = 0; piece < 3; ++piece) {
      for (int channel = 0; channel < 3; ++channel) {
        for (int k = 0; k < 8; ++k) {
          const int word = 8 * piece + k, pixel = word / 3;
          const bool mine = word % 3 == channel;
          at[piece][channel][2 * k] = mine ? static_cast<uint8_t>(2 * pixel) : 0x80;
          at[piece][channel][2 * k + 1] = mine ? static_cast<uint8_t>(2 * pixel + 1) : 0x80;
        }
      }
    }
  }
};
constexpr InterleaveMasks kInterleave;

UCAP_AVX2_BUILD void interleave_avx2(uint16_t* out, const uint16_t* blue, const uint16_t* green,
                                     const uint16_t* red, int32_t n) {
  __m128i mask[3][3];
  for (int p = 0; p < 3; ++p)
    for (int c = 0; c < 3; ++c)
      mask[p][c] = _mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.at[p][c].data()));
  int32_t x = 0;
  // Up to the first 16-byte boundary of the output one pixel at a time (none when the row
  // starts at an even word), then pieces of eight pixels written past the caches: the
  // image is far larger than they are.
  for (; x < n && (reinterpret_cast<uintptr_t>(out + 3 * static_cast<size_t>(x)) & 15) != 0; ++x) {
    interleave_plain(out + 3 * static_cast<size_t>(x), blue + x, green + x, red + x, 1);
  }
  for (; x + 8 <= n; x += 8) {
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blue + x));
    const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(green + x));
    const __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(red + x));
    for (int p = 0; p < 3; ++p) {
      const __m128i piece = _mm_or_si128(
          _mm_or_si128(_mm_shuffle_epi8(b, mask[p][0]), _mm_shuffle_epi8(g, mask[p][1])),
          _mm_shuffle_epi8(r, mask[p][2]));
      _mm_stream_si128(reinterpret_cast<__m128i*>(out + 3 * static_cast<size_t>(x) + 8 * p), piece);
    }
  }
  _mm_sfence();
  interleave_plain(out + 3 * static_cast<size_t>(x), blue + x, green + x, red + x, n - x);
}
#endif

}  // namespace

void interleave_colors(uint16_t* out, const uint16_t* blue, const uint16_t* green,
                       const uint16_t* red, int32_t n) {
#if UCAP_HAS_AVX2_BUILD
  if (simd::avx2()) {
    interleave_avx2(out, blue, green, red, n);
    return;
  }
#endif
  interleave_plain(out, blue, green, red, n);
}

}  // namespace ucap
