// Color pixels from three planes: the layout every color image of the library has.
#pragma once

#include <cstdint>

namespace ucap {

// out[3x], out[3x + 1], out[3x + 2] = blue[x], green[x], red[x] for x < n. The output is
// written past the caches where it can be (it is meant for whole images, which are larger
// than they are).
void interleave_colors(uint16_t* out, const uint16_t* blue, const uint16_t* green,
                       const uint16_t* red, int32_t n);

}  // namespace ucap
