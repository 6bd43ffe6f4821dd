// The one pass the element makes over a frame the library has written into a buffer: from the
// library's packed rows of 12-bit words (one grey word, or blue, green, red words per pixel)
// to the caps' layout, in place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ucap_gst {

// 12-bit value to 16 bits by repeating its top bits below it: 0 stays 0, 4095 becomes 65535,
// every step equal within one count. Values above 4095 count as 4095.
inline uint16_t to_16_bits(uint16_t v) {
  const unsigned x = v > 4095 ? 4095u : v;
  return static_cast<uint16_t>(x << 4 | x >> 8);
}

// `data` holds width x height pixels of `channels` (1 or 3) words, rows without gaps, at its
// start, and has room for the output: GRAY16_LE rows of `stride_words` words (grey), or
// BGRA64_LE, four words per pixel with an opaque alpha, rows of width x 4 words (color).
// With `scale` every value is widened by to_16_bits, else kept as it is.
void lay_out_frame(uint16_t* data, int width, int height, int channels, size_t stride_words,
                   bool scale);

}  // namespace ucap_gst
