#include <algorithm>

#include "acquisition/frame_stages.h"
#include "core/bands.h"

namespace ucap {

// Three term entries are at most 3 * 65535; the output table has an entry (4095 past the
// meaningful part) for every such sum, so a sum past 24575 reads full scale.
static_assert(kOutputTableSpan > 3 * 65535);

void ApplyColorMatrix(const ColorTables& tables, int32_t enabled, uint16_t* pixels, int32_t count) {
  if (enabled == 0 || count <= 0 || pixels == nullptr) return;
  const uint16_t* T[9];
  for (int k = 0; k < 9; ++k) T[k] = tables.term[k];
  const uint16_t* F = tables.output;
  bands::for_bands(count, 64, 1 << 16, [&](int32_t begin, int32_t end) {
    for (size_t i = static_cast<size_t>(begin); i < static_cast<size_t>(end); ++i) {
      uint16_t* px = pixels + 3 * i;
      // Values above 12 bits count as full scale.
      const uint32_t b = std::min<uint32_t>(px[0], kMaxSample);
      const uint32_t g = std::min<uint32_t>(px[1], kMaxSample);
      const uint32_t r = std::min<uint32_t>(px[2], kMaxSample);
      const uint16_t red = F[T[0][r] + T[1][g] + T[2][b]];
      const uint16_t green = F[T[3][r] + T[4][g] + T[5][b]];
      const uint16_t blue = F[T[6][r] + T[7][g] + T[8][b]];
      px[0] = blue;
      px[1] = green;
      px[2] = red;
    }
  });
}

void grey_from_color(uint16_t* out, const uint16_t* pixels, int32_t count) {
  if (out == nullptr || pixels == nullptr) return;
  for (size_t i = 0; i < static_cast<size_t>(std::max(count, 0)); ++i) {
    const uint16_t* px = pixels + 3 * i;
    out[i] = static_cast<uint16_t>((px[0] + 2 * px[1] + px[2] + 2) >> 2);
  }
}

}  // namespace ucap
