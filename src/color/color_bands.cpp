#include "color/color_bands.h"

#include <algorithm>

#include "core/bands.h"
#include "platform/platform.h"

namespace ucap {

namespace {
constexpr int32_t kMaxBands = 64;
size_t aligned(size_t bytes) { return (bytes + 15) / 16 * 16; }
}  // namespace

bool run_color_bands(int32_t W, int32_t H, uint16_t* image, int32_t halo, int32_t least_rows,
                     size_t work_bytes, const StageServices& services,
                     void (*run)(void* context, const ColorBand& band), void* context) {
  const int32_t cy = H / 2;
  const int32_t bands =
      std::clamp(std::min(bands::threads(), H / std::max(least_rows, 1)), 1, kMaxBands);
  const size_t stride = 3 * static_cast<size_t>(W);
  const size_t halo_words = bands > 1 ? 2 * static_cast<size_t>(halo) * stride : 0;
  const size_t row_slots = static_cast<size_t>(std::min(H, H / bands + 2 + 2 * halo));
  const size_t own_bytes = aligned(work_bytes);
  const size_t band_bytes =
      own_bytes + aligned(halo_words * sizeof(uint16_t)) + aligned(row_slots * sizeof(uint16_t*));
  const platform::WorkBuffer work = services.work_area(bands * band_bytes);
  if (!work) return false;
  ColorBand band[kMaxBands];
  for (int32_t b = 0; b < bands; ++b) {
    const int32_t r0 = 2 * static_cast<int32_t>(static_cast<int64_t>(cy) * b / bands);
    const int32_t r1 = 2 * static_cast<int32_t>(static_cast<int64_t>(cy) * (b + 1) / bands);
    const int32_t first = bands > 1 ? std::max(0, r0 - halo) : 0;
    const int32_t end = bands > 1 ? std::min(H, r1 + halo) : H;
    uint8_t* base = work.as<uint8_t>() + static_cast<size_t>(b) * band_bytes;
    uint16_t* copies = reinterpret_cast<uint16_t*>(base + own_bytes);
    uint16_t** rows =
        reinterpret_cast<uint16_t**>(base + own_bytes + aligned(halo_words * sizeof(uint16_t)));
    for (int32_t r = first; r < end; ++r) {
      uint16_t* own = image + static_cast<size_t>(r) * stride;
      if (r >= r0 && r < r1) {
        rows[r - first] = own;
      } else {
        std::copy(own, own + stride, copies);
        rows[r - first] = copies;
        copies += stride;
      }
    }
    band[b] = ColorBand{rows, end - first, base};
  }
  bands::for_bands(bands, 1, 1, [&](int32_t first, int32_t end) {
    for (int32_t b = first; b < end; ++b) run(context, band[b]);
  });
  return true;
}

}  // namespace ucap
