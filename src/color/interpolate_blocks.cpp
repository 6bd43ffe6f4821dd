#include <algorithm>

#include "color/interpolation.h"
#include "core/bands.h"

namespace ucap {

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
    for (int32_t y = first; y < end; ++y) {
      // The block's red row (the one above in the last row) and blue row.
      const uint16_t* red_row = raw + static_cast<size_t>(std::min((y + 1) & ~1, h - 2)) * W;
      const uint16_t* blue_row = raw + static_cast<size_t>(y | 1) * W;
      const uint16_t* row = raw + static_cast<size_t>(y) * W;
      uint16_t* px = out + static_cast<size_t>(y) * W * 3;
      const bool last_row = y == h - 1;
      const uint16_t* below = last_row ? row : row + W;
      // Interior columns: both greens of the block lie inside the image.
      const int32_t interior = last_row ? 0 : w - 1;
      int32_t x = 0;
      for (; x + 1 < interior; x += 2) {
        // x even: red at x, greens (x+1, y) and (x, y+1) on even rows, (x, y) and
        // (x+1, y+1) on odd rows.
        const int32_t parity = y & 1;
        const uint32_t ge =
            parity == 0 ? (row[x + 1] + below[x]) >> 1 : (row[x] + below[x + 1]) >> 1;
        px[3 * x] = table_lookup(B, blue_row[x + 1]);
        px[3 * x + 1] = table_lookup(G, ge);
        px[3 * x + 2] = table_lookup(R, red_row[x]);
        // x + 1 odd: red at x + 2, greens swap roles.
        const uint32_t go =
            parity == 0 ? (row[x + 1] + below[x + 2]) >> 1 : (row[x + 2] + below[x + 1]) >> 1;
        px[3 * x + 3] = table_lookup(B, blue_row[x + 1]);
        px[3 * x + 4] = table_lookup(G, go);
        px[3 * x + 5] = table_lookup(R, red_row[std::min(x + 2, w - 2)]);
      }
      for (; x < w; ++x) {
        const int32_t xr = std::min((x + 1) & ~1, w - 2);
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
        px[3 * x] = table_lookup(B, blue_row[x | 1]);
        px[3 * x + 1] = table_lookup(G, green);
        px[3 * x + 2] = table_lookup(R, red_row[xr]);
      }
    }
  });
}

}  // namespace ucap
