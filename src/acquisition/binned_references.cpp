#include "acquisition/binned_references.h"

#include <algorithm>
#include <limits>

namespace ucap {

namespace {

// Number of image rows of a binned half-resolution frame, or 0 when the arrays cannot hold
// them.
int32_t binned_rows(const Rect& rect, int32_t binning, size_t capacity) {
  if (binning < 2 || binning > 5) return 0;
  const int32_t L = rect.width();
  const int32_t groups = rect.height() / (2 * binning);
  if (groups < 1 || L <= 0) return 0;
  if (static_cast<size_t>(groups) * static_cast<size_t>(L) > capacity) return 0;
  return groups;
}

}  // namespace

void PrepareBinnedReferences(const ReferenceView& refs, const BinnedReferences& out, int32_t ticks,
                             const Rect& rect, int32_t binning, bool black, bool white) {
  if (!black && !white) return;
  const int32_t groups = binned_rows(rect, binning, out.capacity);
  if (groups == 0) return;
  const int32_t refW = refs.sensor_width, refH = refs.sensor_height;
  if (refs.black_store == nullptr || refs.white_table == nullptr || refW <= 0 || refH <= 0) return;
  if ((black && out.black == nullptr) || (white && out.white == nullptr)) return;

  const int32_t cap = dark_signal_limit(ticks);
  const int64_t k = ticks >> 3;
  const int32_t m = 2 * binning;
  const size_t L = static_cast<size_t>(rect.width());
  const uint16_t* offsets = refs.black_store + static_cast<size_t>(refH) * refW;

  for (int32_t g = 0; g < groups; ++g) {
    const uint16_t* dark[kMaxCoveredRows];
    const uint16_t* gain[kMaxCoveredRows];
    covered_reference_rows(refs, rect.top, g, m, true, dark, gain);
    uint16_t* black_row = black ? out.black + static_cast<size_t>(g) * L : nullptr;
    uint16_t* white_row = white ? out.white + static_cast<size_t>(g) * L : nullptr;
    for (int32_t x = rect.left; x < rect.right; ++x) {
      const size_t j = static_cast<size_t>(x - rect.left);
      if (x < 0 || x >= refW) {
        // No reference for a column outside the sensor: leave such pixels as they are.
        if (black) black_row[j] = 0;
        if (white) white_row[j] = 4096;
        continue;
      }
      int32_t sum_black = 0, sum_white = 0;
      for (int32_t s = 0; s < m; ++s) {
        sum_black += static_cast<int16_t>(dark[s][x]);
        sum_white += static_cast<int16_t>(gain[s][x]);
      }
      if (black) {
        // Saturated to the 16 bits the array holds: an offset past them must not wrap
        // around to the other sign.
        const int64_t offset =
            ((std::min(cap, sum_black) * k) >> 13) + static_cast<int16_t>(offsets[x]);
        const int64_t kept = std::clamp<int64_t>(offset, std::numeric_limits<int16_t>::min(),
                                                 std::numeric_limits<int16_t>::max());
        black_row[j] = static_cast<uint16_t>(static_cast<int16_t>(kept));
      }
      if (white) white_row[j] = static_cast<uint16_t>(static_cast<int16_t>(sum_white / m));
    }
  }
}

void ApplyBinnedReferences(const uint16_t* black_offsets, const uint16_t* white_gains,
                           size_t capacity, uint16_t* image, const Rect& rect, int32_t binning,
                           bool black, bool white) {
  if (image == nullptr || black_offsets == nullptr || white_gains == nullptr) return;
  const int32_t rows = binned_rows(rect, binning, capacity);
  const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(rect.width());
  if (black && white) {
    for (size_t i = 0; i < n; ++i) {
      const int32_t o = static_cast<int16_t>(black_offsets[i]);
      const int32_t g = static_cast<int16_t>(white_gains[i]);
      image[i] = static_cast<uint16_t>(clamp_sample(
          ((static_cast<int64_t>(image[i] - o) - kBlackLevel) * g >> 12) + kBlackLevel));
    }
  } else if (black) {
    for (size_t i = 0; i < n; ++i) {
      image[i] =
          static_cast<uint16_t>(clamp_sample(image[i] - static_cast<int16_t>(black_offsets[i])));
    }
  } else if (white) {
    for (size_t i = 0; i < n; ++i) {
      const int32_t g = static_cast<int16_t>(white_gains[i]);
      image[i] = static_cast<uint16_t>(
          clamp_sample((static_cast<int64_t>(image[i] - kBlackLevel) * g >> 12) + kBlackLevel));
    }
  }
}

}  // namespace ucap
