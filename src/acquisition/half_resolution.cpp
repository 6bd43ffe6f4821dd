#include <algorithm>

#include "acquisition/frame_stages.h"
#include "core/record.h"

namespace ucap {

void AssembleHalfColor(const ColorTables& tables, uint16_t* out, const uint16_t* in,
                       int32_t binning, const Rect& rect) {
  const int32_t W = rect.width(), H = rect.height(), b = binning;
  if (out == nullptr || in == nullptr || b < 1 || W <= 0 || H <= 0) return;
  const int32_t Q = W / (2 * b);
  const int64_t h = b / 2;
  const size_t stride = static_cast<size_t>(W);
  auto lookup = [](const uint16_t* table, int64_t value) {
    return table[std::min<int64_t>(kMaxSample, value)];
  };
  // Whole row pairs and whole blocks only: a last odd row or a block cut off by the right
  // edge has nothing to pair with.
  for (int32_t p = 0; 2 * p + 1 < H; ++p) {
    const uint16_t* row0 = in + static_cast<size_t>(2 * p) * stride;
    const uint16_t* row1 = row0 + stride;
    uint16_t* out0 = out + static_cast<size_t>(2 * p) * Q * 3;
    uint16_t* out1 = out0 + static_cast<size_t>(Q) * 3;
    for (int32_t j = 0; j < Q; ++j) {
      const int32_t s = 2 * b * j;
      int64_t E0 = 0, O0 = 0, E1 = 0, O1 = 0;
      for (int32_t t = 0; t < b; ++t) {
        E0 += row0[s + 2 * t];
        O0 += row0[s + 2 * t + 1];
        E1 += row1[s + 2 * t];
        O1 += row1[s + 2 * t + 1];
      }
      if (s + 2 * b < W) {
        E0 = (E0 + row0[s + 2 * b]) / (b + 1);
        E1 = (E1 + row1[s + 2 * b]) / (b + 1);
      } else {
        E0 /= b;
        E1 /= b;
      }
      O0 /= b;
      O1 /= b;
      const int64_t D1 = std::max<int64_t>(32, (h + 1) * E1 + h * O1);
      const int64_t D2 = std::max<int64_t>(32, (h + 1) * O0 + h * E0);
      const int64_t X = (O1 * E0 - O0 * E1) * (h + 1) * h;
      const int64_t R = std::max<int64_t>(0, (2 * h + 1) * E1 * E0 + X);
      const int64_t G = std::max<int64_t>(0, (h + 1) * (h + 1) * O0 * E1 - h * h * O1 * E0);
      const int64_t B = std::max<int64_t>(0, (2 * h + 1) * O1 * O0 + X);
      uint16_t* px0 = out0 + 3 * static_cast<size_t>(j);
      uint16_t* px1 = out1 + 3 * static_cast<size_t>(j);
      px0[0] = lookup(tables.gain[kBlue], B / D1);
      px0[1] = lookup(tables.gain[kGreen], G / D1);
      px0[2] = lookup(tables.gain[kRed], R / D1);
      px1[0] = lookup(tables.gain[kBlue], B / D2);
      px1[1] = lookup(tables.gain[kGreen], G / D2);
      px1[2] = lookup(tables.gain[kRed], R / D2);
    }
  }
}

void AssembleHalfColor(CameraRecord& cam, uint16_t* out, const uint16_t* in, int32_t binning,
                       const Rect& rect) {
  AssembleHalfColor(cam.tables, out, in, binning, rect);
}

void AssembleHalfMono(uint16_t* out, const uint16_t* in, int32_t binning, const Rect& rect) {
  const int32_t W = rect.width(), H = rect.height(), b = binning;
  if (out == nullptr || in == nullptr || b < 1 || W <= 0 || H <= 0) return;
  const size_t Q = static_cast<size_t>(W / (2 * b));
  const size_t n = static_cast<size_t>(H) * Q;
  const int32_t span = 2 * b;
  for (size_t i = 0; i < n; ++i) {
    const uint16_t* s = in + static_cast<size_t>(span) * i;
    int32_t sum = 0;
    for (int32_t t = 0; t < span; ++t) sum += s[t];
    out[i] = static_cast<uint16_t>(std::min(kMaxSample, (sum + b) / span));
  }
}

}  // namespace ucap
