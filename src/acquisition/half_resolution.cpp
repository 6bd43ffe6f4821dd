#include <algorithm>

#include "acquisition/frame_stages.h"
#include "core/bands.h"
#include "core/simd.h"

namespace ucap {

namespace {

// a / b truncated, for non-negative integers a < 2^53 and b > 0 held in doubles whose
// quotient fits 31 bits: the rounded quotient never crosses an integer, and unlike
// integer division this vectorises.
inline double quotient(double a, double b) {
  return static_cast<double>(static_cast<int32_t>(a / b));
}

// The blocks of one row pair, up to kBlocks at a time: the sums gathered from the frame,
// then the arithmetic over plain arrays, then the table look-ups.
constexpr int32_t kBlocks = 256;
struct Blocks {
  // Sums over the block's b columns of each color, and the column after the block (0 when
  // the block is the last of the row).
  double e0[kBlocks] = {}, o0[kBlocks] = {}, e1[kBlocks] = {}, o1[kBlocks] = {};
  double next0[kBlocks] = {}, next1[kBlocks] = {}, has_next[kBlocks] = {};
  // Table indices of the two output pixels: blue, green, red of row 0, then of row 1.
  int32_t index[6][kBlocks] = {};
};

UCAP_KERNEL void assemble_kernel(Blocks& k, int32_t b) {
  const double db = b, h = b / 2;
  for (int32_t i = 0; i < kBlocks; ++i) {
    const double divisor = db + k.has_next[i];
    const double E0 = quotient(k.e0[i] + k.next0[i], divisor);
    const double E1 = quotient(k.e1[i] + k.next1[i], divisor);
    const double O0 = quotient(k.o0[i], db), O1 = quotient(k.o1[i], db);
    const double D1 = std::max(32.0, (h + 1) * E1 + h * O1);
    const double D2 = std::max(32.0, (h + 1) * O0 + h * E0);
    const double X = (O1 * E0 - O0 * E1) * (h + 1) * h;
    const double R = std::max(0.0, (2 * h + 1) * E1 * E0 + X);
    const double G = std::max(0.0, (h + 1) * (h + 1) * O0 * E1 - h * h * O1 * E0);
    const double B = std::max(0.0, (2 * h + 1) * O1 * O0 + X);
    const double full = kMaxSample;
    k.index[0][i] = static_cast<int32_t>(std::min(full, quotient(B, D1)));
    k.index[1][i] = static_cast<int32_t>(std::min(full, quotient(G, D1)));
    k.index[2][i] = static_cast<int32_t>(std::min(full, quotient(R, D1)));
    k.index[3][i] = static_cast<int32_t>(std::min(full, quotient(B, D2)));
    k.index[4][i] = static_cast<int32_t>(std::min(full, quotient(G, D2)));
    k.index[5][i] = static_cast<int32_t>(std::min(full, quotient(R, D2)));
  }
}

void assemble_plain(Blocks& k, int32_t b) { assemble_kernel(k, b); }
UCAP_AVX2_BUILD void assemble_avx2(Blocks& k, int32_t b) { assemble_kernel(k, b); }

void assemble(Blocks& k, int32_t b) {
  if (simd::avx2()) {
    assemble_avx2(k, b);
  } else {
    assemble_plain(k, b);
  }
}

}  // namespace

// Every product and sum below stays under 2^53 for 16-bit inputs and b <= 5, so the
// double-precision arithmetic is exact integer arithmetic.
void AssembleHalfColor(const ColorTables& tables, uint16_t* out, const uint16_t* in,
                       int32_t binning, const Rect& rect) {
  const int32_t W = rect.width(), H = rect.height(), b = binning;
  if (out == nullptr || in == nullptr || b < 1 || b > 5 || W <= 0 || H <= 0) return;
  const int32_t Q = W / (2 * b);
  const size_t stride = static_cast<size_t>(W);
  const uint16_t* table[3] = {tables.gain[kBlue], tables.gain[kGreen], tables.gain[kRed]};
  // Whole row pairs and whole blocks only: a last odd row or a block cut off by the right
  // edge has nothing to pair with.
  bands::for_bands(H / 2, 1, 32, [&](int32_t first, int32_t end) {
    Blocks k;
    for (int32_t p = first; p < end; ++p) {
      const uint16_t* row0 = in + static_cast<size_t>(2 * p) * stride;
      const uint16_t* row1 = row0 + stride;
      uint16_t* out0 = out + static_cast<size_t>(2 * p) * Q * 3;
      uint16_t* out1 = out0 + static_cast<size_t>(Q) * 3;
      for (int32_t j0 = 0; j0 < Q; j0 += kBlocks) {
        const int32_t n = std::min(kBlocks, Q - j0);
        for (int32_t i = 0; i < n; ++i) {
          const int32_t s = 2 * b * (j0 + i);
          int32_t E0 = 0, O0 = 0, E1 = 0, O1 = 0;
          for (int32_t t = 0; t < b; ++t) {
            E0 += row0[s + 2 * t];
            O0 += row0[s + 2 * t + 1];
            E1 += row1[s + 2 * t];
            O1 += row1[s + 2 * t + 1];
          }
          const bool next = s + 2 * b < W;
          k.e0[i] = E0;
          k.o0[i] = O0;
          k.e1[i] = E1;
          k.o1[i] = O1;
          k.has_next[i] = next ? 1.0 : 0.0;
          k.next0[i] = next ? row0[s + 2 * b] : 0;
          k.next1[i] = next ? row1[s + 2 * b] : 0;
        }
        assemble(k, b);
        for (int32_t i = 0; i < n; ++i) {
          uint16_t* px0 = out0 + 3 * static_cast<size_t>(j0 + i);
          uint16_t* px1 = out1 + 3 * static_cast<size_t>(j0 + i);
          for (int c = 0; c < 3; ++c) {
            px0[c] = table[c][k.index[c][i]];
            px1[c] = table[c][k.index[3 + c][i]];
          }
        }
      }
    }
  });
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
