#include "frame_layout.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace ucap_gst {
namespace {

template <bool kScale>
inline uint16_t value(uint16_t v) {
  if constexpr (kScale) return to_16_bits(v);
  return v;
}

// Pixels from three words to four with an opaque alpha, values widened or not; the source
// and destination ranges do not overlap (see widen_color). Returns the pixels done.
template <bool kScale>
size_t widen_block(const uint16_t* __restrict in, uint16_t* __restrict out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    out[4 * i] = value<kScale>(in[3 * i]);
    out[4 * i + 1] = value<kScale>(in[3 * i + 1]);
    out[4 * i + 2] = value<kScale>(in[3 * i + 2]);
    out[4 * i + 3] = 0xFFFF;
  }
  return count;
}

#if defined(__x86_64__)
// The same, four pixels a step: two 16-byte loads (words 0..7 and 6..13 of the step's twelve,
// so the last step reads two words past the block's source), each shuffled into two pixels
// of four words, widened, and stored past the caches where the destination is aligned: the
// frame goes downstream from memory anyway, and the stores need not read it first. Returns
// the pixels done (a multiple of four); the caller does the rest.
template <bool kScale>
__attribute__((target("ssse3,sse4.1"))) size_t widen_block_sse(const uint16_t* __restrict in,
                                                               uint16_t* __restrict out,
                                                               size_t count) {
  const __m128i spread = _mm_setr_epi8(0, 1, 2, 3, 4, 5, -1, -1, 6, 7, 8, 9, 10, 11, -1, -1);
  const __m128i alpha = _mm_setr_epi16(0, 0, 0, -1, 0, 0, 0, -1);
  const __m128i top = _mm_set1_epi16(4095);
  const bool aligned = (reinterpret_cast<uintptr_t>(out) & 15) == 0;
  const size_t steps = count / 4;
  for (size_t k = 0; k < steps; ++k) {
    __m128i pair[2] = {_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12 * k)),
                       _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 12 * k + 6))};
    for (int j = 0; j < 2; ++j) {
      __m128i v = _mm_shuffle_epi8(pair[j], spread);
      if constexpr (kScale) {
        v = _mm_min_epu16(v, top);
        v = _mm_or_si128(_mm_slli_epi16(v, 4), _mm_srli_epi16(v, 8));
      }
      v = _mm_or_si128(v, alpha);
      auto* to = reinterpret_cast<__m128i*>(out + 16 * k + 8 * j);
      aligned ? _mm_stream_si128(to, v) : _mm_storeu_si128(to, v);
    }
  }
  _mm_sfence();
  return 4 * steps;
}
#endif

// In place, from the end in blocks whose source (three words a pixel, and two words the
// last loads read past it) lies wholly below their destination (four words a pixel): each
// block reads only words no block has written yet. The first block's last loads read two
// words past the library's image, inside the buffer's four words a pixel.
template <bool kScale>
void widen_color(uint16_t* data, size_t pixels) {
#if defined(__x86_64__)
  static const bool sse = __builtin_cpu_supports("sse4.1") && __builtin_cpu_supports("ssse3");
#else
  constexpr bool sse = false;
#endif
  size_t end = pixels;
  while (end > 64) {
    const size_t first = (3 * end + 5) / 4;  // 4 * first >= 3 * end + 2
    const uint16_t* in = data + 3 * first;
    uint16_t* out = data + 4 * first;
    size_t done = 0;
#if defined(__x86_64__)
    if (sse) done = widen_block_sse<kScale>(in, out, end - first);
#endif
    widen_block<kScale>(in + 3 * done, out + 4 * done, end - first - done);
    end = first;
  }
  for (size_t i = end; i-- > 0;) {
    const uint16_t b = data[3 * i], g = data[3 * i + 1], r = data[3 * i + 2];
    data[4 * i] = value<kScale>(b);
    data[4 * i + 1] = value<kScale>(g);
    data[4 * i + 2] = value<kScale>(r);
    data[4 * i + 3] = 0xFFFF;
  }
}

template <bool kScale>
void lay_out_grey(uint16_t* data, size_t width, size_t height, size_t stride) {
  if (stride == width) {
    if constexpr (kScale)
      for (size_t i = 0; i < width * height; ++i) data[i] = to_16_bits(data[i]);
    return;
  }
  // Rows spread to the wider stride from the last one up; a row's destination never lies
  // below its source.
  for (size_t y = height; y-- > 0;)
    for (size_t x = width; x-- > 0;) data[y * stride + x] = value<kScale>(data[y * width + x]);
}

}  // namespace

void lay_out_frame(uint16_t* data, int width, int height, int channels, size_t stride_words,
                   bool scale) {
  const auto w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  if (channels == 3) {
    scale ? widen_color<true>(data, w * h) : widen_color<false>(data, w * h);
  } else {
    scale ? lay_out_grey<true>(data, w, h, stride_words)
          : lay_out_grey<false>(data, w, h, stride_words);
  }
}

}  // namespace ucap_gst
