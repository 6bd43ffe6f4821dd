#include "frame_layout.h"

namespace ucap_gst {
namespace {

template <bool kScale>
inline uint16_t value(uint16_t v) {
  if constexpr (kScale) return to_16_bits(v);
  return v;
}

// Pixels from three words to four with an opaque alpha, values widened or not; the source
// and destination ranges do not overlap (see widen_color). Built for AVX2 too, picked at run
// time; the pass is bound by memory either way.
template <bool kScale>
__attribute__((target_clones("avx2", "default"))) void widen_block(const uint16_t* __restrict in,
                                                                    uint16_t* __restrict out, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    out[4 * i] = value<kScale>(in[3 * i]);
    out[4 * i + 1] = value<kScale>(in[3 * i + 1]);
    out[4 * i + 2] = value<kScale>(in[3 * i + 2]);
    out[4 * i + 3] = 0xFFFF;
  }
}

// In place, from the end in blocks whose source (three words a pixel) lies wholly below
// their destination (four words a pixel): each block reads only words no block has written
// yet.
template <bool kScale>
void widen_color(uint16_t* data, size_t pixels) {
  size_t end = pixels;
  while (end > 64) {
    const size_t first = (3 * end + 3) / 4;  // 4 * first >= 3 * end
    widen_block<kScale>(data + 3 * first, data + 4 * first, end - first);
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

void lay_out_frame(uint16_t* data, int width, int height, int channels, size_t stride_words, bool scale) {
  const auto w = static_cast<size_t>(width), h = static_cast<size_t>(height);
  if (channels == 3) {
    scale ? widen_color<true>(data, w * h) : widen_color<false>(data, w * h);
  } else {
    scale ? lay_out_grey<true>(data, w, h, stride_words) : lay_out_grey<false>(data, w, h, stride_words);
  }
}

}  // namespace ucap_gst
