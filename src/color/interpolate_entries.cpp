#include <algorithm>

#include "color/interpolation.h"
#include "core/bands.h"
#include "platform/platform.h"

namespace ucap {

bool standard_interpolation_fits(int32_t width, int32_t height) {
  return width >= 4 && height >= 2 && width % 2 == 0 && height % 2 == 0;
}

bool high_quality_interpolation_fits(int32_t width, int32_t height) {
  return width >= 6 && height >= 6 && width % 2 == 0 && height % 2 == 0;
}

void map_mosaic(const ColorTables& tables, uint16_t* out, const uint16_t* raw, int32_t width,
                int32_t height) {
  if (out == nullptr || raw == nullptr || width <= 0 || height <= 0) return;
  const size_t W = static_cast<size_t>(width);
  bands::for_bands(height, 2, 64, [&](int32_t first, int32_t end) {
    for (int32_t y = first; y < end; ++y) {
      const uint16_t* src = raw + static_cast<size_t>(y) * W;
      uint16_t* dst = out + static_cast<size_t>(y) * W * 3 + 1;
      // Even rows: red, green; odd rows: green, blue.
      const uint16_t* even = y % 2 == 0 ? tables.gain[kRed] : tables.gain[kGreen];
      const uint16_t* odd = y % 2 == 0 ? tables.gain[kGreen] : tables.gain[kBlue];
      size_t x = 0;
      for (; x + 1 < W; x += 2) {
        dst[3 * x] = table_lookup(even, src[x]);
        dst[3 * x + 3] = table_lookup(odd, src[x + 1]);
      }
      if (x < W) dst[3 * x] = table_lookup(even, src[x]);
    }
  });
}

void InterpolateColor(const ColorTables& tables, uint16_t* out, const uint16_t* raw,
                      const Rect& rect, int32_t quality, const StageServices& services) {
  const int32_t w = rect.width(), h = rect.height();
  const bool high = quality >= 2 && high_quality_interpolation_fits(w, h);
  if (!high && !standard_interpolation_fits(w, h)) return;
  if (out == nullptr || raw == nullptr) return;
  if (high) {
    map_mosaic(tables, out, raw, w, h);
    InterpolateHighQuality(quality, w, h, out, services);
  } else {
    interpolate_standard_mosaic(tables, out, raw, w, h);
  }
}

void bin_columns(uint16_t* dst, const uint16_t* src, int32_t width, int32_t rows, int32_t binning) {
  const int32_t b = binning;
  if (dst == nullptr || src == nullptr || b < 1 || width <= 0 || rows <= 0) return;
  const int32_t out_w = 2 * ((width / b) / 2);
  if (out_w <= 0) return;
  const int32_t pairs = out_w / 2;
  const int32_t o = 2 * ((b - 1) / 2) + 1;
  for (int32_t y = 0; y < rows; ++y) {
    const uint16_t* in = src + static_cast<size_t>(y) * width;
    uint16_t* outp = dst + static_cast<size_t>(y) * out_w;
    for (int32_t p = 0; p < pairs; ++p) {
      const uint16_t* q = in + 2 * b * p;
      int32_t even = 0;
      for (int32_t k = 0; k < b; ++k) even += q[2 * k];
      outp[2 * p] = static_cast<uint16_t>(even / b);
      int32_t odd = 0;
      if (p == pairs - 1) {
        for (int32_t k = 0; k < b; ++k) odd += q[2 * k + 1];
        odd /= b;
      } else if (b % 2 == 1) {
        for (int32_t k = 0; k < b; ++k) odd += q[o + 2 * k];
        odd /= b;
      } else {
        for (int32_t k = 0; k <= b; ++k) odd += q[o + 2 * k];
        odd /= b + 1;
      }
      outp[2 * p + 1] = static_cast<uint16_t>(odd);
    }
  }
}

void InterpolateBinned(const ColorTables& tables, uint16_t* out, const uint16_t* raw,
                       const Rect& rect, int32_t binning, const StageServices& services) {
  const int32_t W = rect.width(), H = rect.height(), b = binning;
  if (out == nullptr || raw == nullptr || b < 1 || W <= 0 || H <= 0) return;
  const int32_t out_w = 2 * ((W / b) / 2), out_h = 2 * (H / 2);
  if (!standard_interpolation_fits(out_w, out_h)) return;
  const platform::WorkBuffer work = services.work_area(
      static_cast<size_t>(out_w) * static_cast<size_t>(out_h) * sizeof(uint16_t));
  if (!work) return;
  uint16_t* reduced = work.as<uint16_t>();
  bin_columns(reduced, raw, W, out_h, b);
  interpolate_standard_mosaic(tables, out, reduced, out_w, out_h);
}

}  // namespace ucap
