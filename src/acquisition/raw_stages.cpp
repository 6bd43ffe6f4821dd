#include "acquisition/raw_stages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "core/bands.h"
#include "core/simd.h"

namespace ucap {

namespace {

inline int32_t as_signed(uint16_t w) { return static_cast<int16_t>(w); }

inline void store_word(uint8_t* bytes, size_t word, uint16_t value) {
  std::memcpy(bytes + 2 * word, &value, sizeof value);
}

// Expands `groups` packed groups starting at byte `src` into words from `dst` on, last
// group first, so that each write lands on bytes already read.
void expand_field_in_order(uint8_t* frame, size_t src, size_t dst, size_t groups) {
  for (size_t g = groups; g-- > 0;) {
    const uint8_t* p = frame + src + 3 * g;
    const uint8_t b0 = p[0], b1 = p[1], b2 = p[2];
    store_word(frame, dst + 2 * g, static_cast<uint16_t>(b0 * 16 + (b2 >> 4)));
    store_word(frame, dst + 2 * g + 1, static_cast<uint16_t>(b1 * 16 + (b2 & 0x0F)));
  }
}

// Packed groups per block of the blocked expansion.
constexpr size_t kExpandBlock = 1024;

UCAP_KERNEL void expand_block_kernel(const uint8_t* in, uint16_t* out, size_t groups) {
  for (size_t g = 0; g < groups; ++g) {
    const uint8_t b0 = in[3 * g], b1 = in[3 * g + 1], b2 = in[3 * g + 2];
    out[2 * g] = static_cast<uint16_t>(b0 * 16 + (b2 >> 4));
    out[2 * g + 1] = static_cast<uint16_t>(b1 * 16 + (b2 & 0x0F));
  }
}

void expand_block_plain(const uint8_t* in, uint16_t* out, size_t groups) {
  expand_block_kernel(in, out, groups);
}
UCAP_AVX2_BUILD void expand_block_avx2(const uint8_t* in, uint16_t* out, size_t groups) {
  expand_block_kernel(in, out, groups);
}

// As expand_field_in_order, a block of groups at a time, last block first: each block's
// bytes are read before any of its words are written. With the words starting at or after
// the packed bytes (dst words at byte 2 * dst >= src), no write lands on a byte still to
// be read, in either order, so both give the same words.
void expand_field(uint8_t* frame, size_t src, size_t dst, size_t groups) {
  if (2 * dst < src) {
    expand_field_in_order(frame, src, dst, groups);
    return;
  }
  const auto expand = simd::avx2() ? expand_block_avx2 : expand_block_plain;
  uint8_t in[3 * kExpandBlock];
  uint16_t out[2 * kExpandBlock];
  for (size_t end = groups; end > 0;) {
    const size_t first = end > kExpandBlock ? end - kExpandBlock : 0;
    const size_t count = end - first;
    std::memcpy(in, frame + src + 3 * first, 3 * count);
    expand(in, out, count);
    std::memcpy(frame + 2 * (dst + 2 * first), out, 4 * count);
    end = first;
  }
}

enum class RefMode { kBlack, kWhite, kBoth };

template <RefMode M>
inline int32_t correct(int32_t p, int32_t c, int32_t d, int32_t g, int32_t limit, int32_t k) {
  const int64_t dark = (static_cast<int64_t>(std::min(limit, d)) * k) >> 13;
  if constexpr (M == RefMode::kBlack) {
    return clamp_sample(static_cast<int64_t>(p) - c - dark);
  } else if constexpr (M == RefMode::kWhite) {
    return clamp_sample(((static_cast<int64_t>(p - kBlackLevel) * g) >> 12) + kBlackLevel);
  } else {
    return clamp_sample(((((p - dark) - c) - kBlackLevel) * g >> 12) + kBlackLevel);
  }
}

// The columns of one image row, up to kSpan at a time: the dark values and gains of the
// covered reference rows summed first, then the correction over plain arrays.
constexpr int32_t kSpan = 512;
struct RefRow {
  uint16_t* out = nullptr;
  const uint16_t* offsets = nullptr;
  const uint16_t* dark[kMaxCoveredRows] = {};
  const uint16_t* gain[kMaxCoveredRows] = {};
  int32_t columns = 0, m = 1, limit = 0, k = 0;
};

// (v * g) >> 12 in 32 bits for |v| < 2^19 and 16-bit g: v = 4096 * (v >> 12) + (v & 4095),
// and the first part leaves the shift whole.
UCAP_KERNEL int32_t scale_gain(int32_t v, int32_t g) {
  return (v >> 12) * g + (((v & 4095) * g) >> 12);
}

UCAP_KERNEL int32_t clamp_narrow(int32_t v) { return std::min(kMaxSample, std::max(0, v)); }

// The sums of m gains divided by m, truncated; m a constant lets the division vectorise.
template <int32_t D>
UCAP_KERNEL void divide_sums(int32_t* g, int32_t n) {
  for (int32_t x = 0; x < n; ++x) g[x] /= D;
}

UCAP_KERNEL void mean_gains(int32_t* g, int32_t n, int32_t m) {
  switch (m) {
    case 1: break;
    case 2: divide_sums<2>(g, n); break;
    case 3: divide_sums<3>(g, n); break;
    case 4: divide_sums<4>(g, n); break;
    case 5: divide_sums<5>(g, n); break;
    case 6: divide_sums<6>(g, n); break;
    case 8: divide_sums<8>(g, n); break;
    case 10: divide_sums<10>(g, n); break;
    default:
      for (int32_t x = 0; x < n; ++x) g[x] /= m;
      break;
  }
}

// Every value in 32 bits: valid when |k| * max(|limit|, 32768 * m) < 2^31 (see
// narrow_dark), so the dark signal stays within 2^18 and every sum within 2^19.
template <RefMode M>
UCAP_KERNEL void ref_row_kernel(const RefRow& r) {
  for (int32_t x0 = 0; x0 < r.columns; x0 += kSpan) {
    const int32_t n = std::min(kSpan, r.columns - x0);
    int32_t d[kSpan], g[kSpan];
    for (int32_t x = 0; x < n; ++x) {
      d[x] = M == RefMode::kWhite ? 0 : as_signed(r.dark[0][x0 + x]);
      g[x] = M == RefMode::kBlack ? 0 : as_signed(r.gain[0][x0 + x]);
    }
    for (int32_t s = 1; s < r.m; ++s) {
      const uint16_t* dark = r.dark[s] + x0;
      const uint16_t* gain = r.gain[s] + x0;
      if constexpr (M != RefMode::kWhite) {
        for (int32_t x = 0; x < n; ++x) d[x] += as_signed(dark[x]);
      }
      if constexpr (M != RefMode::kBlack) {
        for (int32_t x = 0; x < n; ++x) g[x] += as_signed(gain[x]);
      }
    }
    if constexpr (M != RefMode::kBlack) mean_gains(g, n, r.m);
    uint16_t* out = r.out + x0;
    const uint16_t* offsets = r.offsets + x0;
    for (int32_t x = 0; x < n; ++x) {
      const int32_t p = out[x];
      const int32_t dark = (std::min(r.limit, d[x]) * r.k) >> 13;
      int32_t v;
      if constexpr (M == RefMode::kBlack) {
        v = (p - as_signed(offsets[x])) - dark;
      } else if constexpr (M == RefMode::kWhite) {
        v = scale_gain(p - kBlackLevel, g[x]) + kBlackLevel;
      } else {
        v = scale_gain(((p - dark) - as_signed(offsets[x])) - kBlackLevel, g[x]) + kBlackLevel;
      }
      out[x] = static_cast<uint16_t>(clamp_narrow(v));
    }
  }
}

void ref_row_black(const RefRow& r) { ref_row_kernel<RefMode::kBlack>(r); }
void ref_row_white(const RefRow& r) { ref_row_kernel<RefMode::kWhite>(r); }
void ref_row_both(const RefRow& r) { ref_row_kernel<RefMode::kBoth>(r); }
UCAP_AVX2_BUILD void ref_row_black_avx2(const RefRow& r) { ref_row_kernel<RefMode::kBlack>(r); }
UCAP_AVX2_BUILD void ref_row_white_avx2(const RefRow& r) { ref_row_kernel<RefMode::kWhite>(r); }
UCAP_AVX2_BUILD void ref_row_both_avx2(const RefRow& r) { ref_row_kernel<RefMode::kBoth>(r); }

template <RefMode M>
void (*ref_row_function(bool wide))(const RefRow&) {
  if constexpr (M == RefMode::kBlack) {
    return wide ? ref_row_black_avx2 : ref_row_black;
  } else if constexpr (M == RefMode::kWhite) {
    return wide ? ref_row_white_avx2 : ref_row_white;
  } else {
    return wide ? ref_row_both_avx2 : ref_row_both;
  }
}

// Whether min(limit, d) * k fits 32 bits for every sum d of m signed 16-bit dark values.
bool narrow_dark(int32_t limit, int32_t k, int32_t m) {
  const int64_t extent = std::max<int64_t>(std::abs(static_cast<int64_t>(limit)), 32768 * m);
  return extent * std::abs(static_cast<int64_t>(k)) <= INT32_MAX;
}

template <RefMode M>
void apply_references_rows(const ReferenceView& refs, uint16_t* image, int32_t ticks,
                           const Rect& rect, int32_t m, bool row_pair) {
  const int32_t refW = refs.sensor_width, refH = refs.sensor_height;
  const int32_t L = rect.width();
  const int32_t rows = rect.height() / m;
  // Columns outside the sensor have no reference; those pixels stay as they are.
  const int32_t x0 = std::max(rect.left, 0), x1 = std::min(rect.right, refW);
  if (rows <= 0 || L <= 0 || x0 >= x1) return;
  const int32_t limit = dark_signal_limit(ticks);
  const int32_t k = ticks >> 3;
  const uint16_t* offsets = refs.black_store + static_cast<size_t>(refH) * refW;
  const bool narrow = narrow_dark(limit, k, m);
  const auto row_function = ref_row_function<M>(simd::avx2());

  bands::for_bands(rows, 1, 64, [&](int32_t first, int32_t end) {
    for (int32_t i = first; i < end; ++i) {
      uint16_t* out = image + static_cast<size_t>(i) * L;
      const uint16_t* dark[kMaxCoveredRows];
      const uint16_t* gain[kMaxCoveredRows];
      covered_reference_rows(refs, rect.top, i, m, row_pair, dark, gain);
      if (narrow) {
        RefRow r;
        r.out = out + (x0 - rect.left);
        r.offsets = offsets + x0;
        for (int32_t s = 0; s < m; ++s) {
          r.dark[s] = dark[s] + x0;
          r.gain[s] = gain[s] + x0;
        }
        r.columns = x1 - x0;
        r.m = m;
        r.limit = limit;
        r.k = k;
        row_function(r);
      } else if (m == 1) {
        for (int32_t x = x0; x < x1; ++x) {
          const int32_t c = M == RefMode::kWhite ? 0 : as_signed(offsets[x]);
          const int32_t d = M == RefMode::kWhite ? 0 : as_signed(dark[0][x]);
          const int32_t g = M == RefMode::kBlack ? 0 : as_signed(gain[0][x]);
          uint16_t& p = out[x - rect.left];
          p = static_cast<uint16_t>(correct<M>(p, c, d, g, limit, k));
        }
      } else {
        for (int32_t x = x0; x < x1; ++x) {
          int32_t d = 0, gsum = 0;
          for (int32_t s = 0; s < m; ++s) {
            if constexpr (M != RefMode::kWhite) d += as_signed(dark[s][x]);
            if constexpr (M != RefMode::kBlack) gsum += as_signed(gain[s][x]);
          }
          const int32_t c = M == RefMode::kWhite ? 0 : as_signed(offsets[x]);
          uint16_t& p = out[x - rect.left];
          p = static_cast<uint16_t>(correct<M>(p, c, d, gsum / m, limit, k));
        }
      }
    }
  });
}

// The defect scan of the dark reference goes by blocks of kScanBlock values.
constexpr size_t kScanBlock = 256;

// The start of the first block from `from` on (a multiple of kScanBlock past it) that holds
// a value of dark[0, count) above min_dark; count when there is none.
UCAP_KERNEL size_t next_hot_block_kernel(const uint16_t* dark, size_t from, size_t count,
                                         int16_t min_dark) {
  for (size_t start = from; start < count; start += kScanBlock) {
    const uint16_t* p = dark + start;
    const size_t length = std::min(kScanBlock, count - start);
    int16_t top = INT16_MIN;
    for (size_t i = 0; i < length; ++i) top = std::max(top, static_cast<int16_t>(p[i]));
    if (top > min_dark) return start;
  }
  return count;
}

size_t next_hot_block_plain(const uint16_t* dark, size_t from, size_t count, int16_t min_dark) {
  return next_hot_block_kernel(dark, from, count, min_dark);
}
UCAP_AVX2_BUILD size_t next_hot_block_avx2(const uint16_t* dark, size_t from, size_t count,
                                           int16_t min_dark) {
  return next_hot_block_kernel(dark, from, count, min_dark);
}

}  // namespace

int32_t covered_rows(int32_t top, int32_t i, int32_t m, bool row_pair,
                     int32_t (&rows)[kMaxCoveredRows]) {
  m = std::clamp(m, 1, kMaxCoveredRows);
  int32_t y0 = top + i * m;
  if (!row_pair) {
    if (m % 2 == 0 && i % 2 == 1) ++y0;
    for (int32_t s = 0; s < m; ++s) rows[s] = y0 + 2 * s;
    return m;
  }
  // Row pairs: the phase alternates from row to row unless m is a multiple of 4.
  const int32_t phase = m % 4 == 0 ? 0 : i;
  for (int32_t s = 0; s < m / 2; ++s) {
    const bool even = (s + phase) % 2 == 0;
    rows[2 * s] = even ? y0 + 2 * s : y0 + 2 * s - 1;
    rows[2 * s + 1] = rows[2 * s] + 2;
  }
  return m / 2 * 2;
}

int32_t dark_signal_limit(int32_t ticks) {
  double limit = 268369920.0 / ticks;  // 4095 * 65536
  if (limit > 4095.0) limit = 4095.0;
  return static_cast<int32_t>(limit);
}

int32_t covered_reference_rows(const ReferenceView& refs, int32_t top, int32_t i, int32_t m,
                               bool row_pair, const uint16_t* (&dark)[kMaxCoveredRows],
                               const uint16_t* (&gain)[kMaxCoveredRows]) {
  int32_t rows[kMaxCoveredRows];
  const int32_t n = covered_rows(top, i, m, row_pair, rows);
  for (int32_t s = 0; s < n; ++s) {
    const size_t base =
        static_cast<size_t>(same_color_row(rows[s], refs.sensor_height)) * refs.sensor_width;
    dark[s] = refs.black_store + base;
    gain[s] = refs.white_table + base;
  }
  return n;
}

void UnpackPixels12(uint8_t* frame, size_t frame_bytes, int32_t mode, int32_t width, int32_t height,
                    uint64_t packed_bytes) {
  if (frame == nullptr || width <= 0 || height <= 0) return;
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  const size_t half = n / 2;
  if (2 * n > frame_bytes) return;
  if (mode == 0) {
    expand_field(frame, 0, 0, half);
  } else if (mode == 2) {
    const size_t groups = half / 2;
    const uint64_t second = packed_bytes / 2;
    if (second + 3 * groups > frame_bytes) return;
    expand_field(frame, static_cast<size_t>(second), half, groups);
    expand_field(frame, 0, 0, groups);
  }
}

void InterleaveFields(uint16_t* dst, const uint16_t* src, int32_t width, int32_t height) {
  if (dst == nullptr || src == nullptr || width <= 0 || height <= 0) return;
  const size_t W = static_cast<size_t>(width);
  const size_t half = W * static_cast<size_t>(height) / 2;
  for (int32_t r = 0; r < height; r += 2) {
    const size_t field_row = static_cast<size_t>(r / 2) * W;
    std::memcpy(dst + static_cast<size_t>(r) * W, src + field_row, W * sizeof(uint16_t));
    // An odd last row has no partner in the second field.
    if (r + 1 < height) {
      std::memcpy(dst + static_cast<size_t>(r + 1) * W, src + half + field_row,
                  W * sizeof(uint16_t));
    }
  }
}

void ApplyReferences(const ReferenceView& refs, uint16_t* image, int32_t ticks, const Rect& rect,
                     int32_t binning, bool black, bool white, bool row_pair) {
  if (binning < 1 || binning > 5) return;
  if (image == nullptr || refs.black_store == nullptr || refs.white_table == nullptr) return;
  if (refs.sensor_width <= 0 || refs.sensor_height <= 0) return;
  const int32_t m = row_pair ? 2 * binning : binning;
  if (black && white) {
    apply_references_rows<RefMode::kBoth>(refs, image, ticks, rect, m, row_pair);
  } else if (black) {
    apply_references_rows<RefMode::kBlack>(refs, image, ticks, rect, m, row_pair);
  } else if (white) {
    apply_references_rows<RefMode::kWhite>(refs, image, ticks, rect, m, row_pair);
  }
}

void CorrectBlemishes(const uint32_t* list, int32_t count, const ReferenceView& refs,
                      bool black_present, uint16_t* image, const Rect& rect, int32_t binning,
                      int32_t ticks, bool row_pair) {
  const int32_t refW = refs.sensor_width, refH = refs.sensor_height;
  const int32_t L = rect.width(), height = rect.height();
  if (image == nullptr || binning < 1 || binning > 5 || refW <= 0 || refH <= 0) return;
  if (L <= 0 || height <= 0) return;
  const int32_t b = binning;
  const int32_t rows = row_pair ? height / (2 * b) : height / b;
  if (rows <= 0) return;
  count = list == nullptr ? 0 : std::clamp(count, 0, kMaxBlemishes);

  auto fix = [&](uint32_t position) {
    const int64_t row = position / static_cast<uint32_t>(refW);
    const int64_t column = position % static_cast<uint32_t>(refW);
    if (row < rect.top || row >= rect.bottom || column < rect.left || column >= rect.right) return;
    const int32_t c = static_cast<int32_t>(column - rect.left);
    const int32_t r = static_cast<int32_t>(row - rect.top);
    const int32_t image_row =
        row_pair ? ((r % 2) + 2 * ((r / 2) / 2)) / b : (r % 2) + 2 * ((r / b) / 2);
    if (image_row >= rows) return;  // a binned row the image does not hold
    uint16_t* q = image + static_cast<size_t>(image_row) * L + c;
    // Only same-color neighbours inside the row are used; a pixel with none stays.
    if (c < 2) {
      if (c + 2 < L) *q = q[2];
    } else if (c >= L - 2) {
      *q = q[-2];
    } else {
      *q = static_cast<uint16_t>((q[-2] + q[2] + 1) >> 1);
    }
  };

  for (int32_t i = 0; i < count; ++i) fix(list[i]);

  // Pixels whose dark signal over this exposure exceeds 1000 counts are treated as defects
  // for this frame, as long as the list has room.
  if (!black_present || refs.black_store == nullptr || ticks == 0) return;
  int32_t total = count;
  const size_t n = static_cast<size_t>(refW) * static_cast<size_t>(refH);
  const int64_t threshold = 65536000;
  if (ticks > 0) {
    // d * t > threshold  <=>  d > threshold / t for positive t.
    const int64_t above = threshold / ticks;
    if (above >= 32767) return;
    const int16_t min_dark = static_cast<int16_t>(above);
    // Such pixels are rare: the scan skips the blocks without any, then walks a block that
    // has one in order.
    const auto next = simd::avx2() ? next_hot_block_avx2 : next_hot_block_plain;
    for (size_t from = next(refs.black_store, 0, n, min_dark); from < n && total < kMaxBlemishes;
         from = next(refs.black_store, from + kScanBlock, n, min_dark)) {
      const size_t to = std::min(n, from + kScanBlock);
      for (size_t idx = from; idx < to && total < kMaxBlemishes; ++idx) {
        if (static_cast<int16_t>(refs.black_store[idx]) > min_dark) {
          fix(static_cast<uint32_t>(idx));
          ++total;
        }
      }
    }
  } else {
    for (size_t idx = 0; idx < n && total < kMaxBlemishes; ++idx) {
      if (static_cast<int64_t>(as_signed(refs.black_store[idx])) * ticks > threshold) {
        fix(static_cast<uint32_t>(idx));
        ++total;
      }
    }
  }
}

void double_rows(uint16_t* dst, const uint16_t* src, int32_t width, int32_t height) {
  if (dst == nullptr || src == nullptr || width <= 0 || height <= 0) return;
  const size_t W = static_cast<size_t>(width);
  // A source row past the last one stands for the nearest row of the same color.
  auto source = [&](int32_t y) {
    if (y >= height) y -= 2;
    if (y < 0) y = 0;
    return src + static_cast<size_t>(y) * W;
  };
  const int32_t out_rows = 2 * height;
  for (int32_t k = 0; 2 * k < height; ++k) {
    const uint16_t* a = source(2 * k);
    const uint16_t* b = source(2 * k + 1);
    uint16_t* out = dst + static_cast<size_t>(4 * k) * W;
    std::memcpy(out, a, W * sizeof(uint16_t));
    std::memcpy(out + W, b, W * sizeof(uint16_t));
    if (4 * k + 2 >= out_rows) break;
    if (2 * k + 2 >= height) {
      std::memcpy(out + 2 * W, a, W * sizeof(uint16_t));
      std::memcpy(out + 3 * W, b, W * sizeof(uint16_t));
    } else {
      const uint16_t* c = source(2 * k + 2);
      const uint16_t* d = source(2 * k + 3);
      for (size_t x = 0; x < W; ++x) {
        out[2 * W + x] = static_cast<uint16_t>((a[x] + c[x] + 1) >> 1);
        out[3 * W + x] = static_cast<uint16_t>((b[x] + d[x] + 1) >> 1);
      }
    }
  }
}

}  // namespace ucap
