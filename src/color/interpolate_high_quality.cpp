#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "color/color_bands.h"
#include "color/interpolation.h"
#include "core/interleave.h"
#include "core/reporter.h"
#include "core/simd.h"
#include "platform/platform.h"

#if UCAP_HAS_AVX2_BUILD
#include <immintrin.h>
#endif

namespace ucap {

namespace {

constexpr int kBlueWord = 0, kGreenWord = 1, kRedWord = 2;

// The image, either contiguous or as a table of row pointers (a band's rows, some of them
// copies).
class Plane {
 public:
  Plane(uint16_t* data, int32_t w) : data_(data), stride_(static_cast<size_t>(w) * 3) {}
  explicit Plane(uint16_t* const* rows) : rows_(rows) {}
  uint16_t* row(int32_t r) const {
    return rows_ != nullptr ? rows_[r] : data_ + static_cast<size_t>(r) * stride_;
  }
  uint16_t& at(int32_t r, int32_t c, int word) const {
    return row(r)[static_cast<size_t>(c) * 3 + word];
  }
  int32_t G(int32_t r, int32_t c) const { return at(r, c, kGreenWord); }
  uint16_t& R(int32_t r, int32_t c) const { return at(r, c, kRedWord); }
  uint16_t& B(int32_t r, int32_t c) const { return at(r, c, kBlueWord); }

 private:
  uint16_t* data_ = nullptr;
  size_t stride_ = 0;
  uint16_t* const* rows_ = nullptr;
};

// Edge-directed green from the sums and differences of a site's neighbours. `diagonal`
// says whether the diagonal-gradient terms take part.
inline int32_t directed_green(int32_t Hs, int32_t Vs, int32_t dH, int32_t dV, int32_t Ds,
                              int32_t dDh, int32_t dDv, bool diagonal) {
  const double tv = static_cast<double>(3 * Hs - Ds - Vs);
  const double th = static_cast<double>(3 * Vs - Ds - Hs);
  double Qv = tv * tv / 16 + static_cast<double>(dV) * dV;
  double Qh = th * th / 16 + static_cast<double>(dH) * dH;
  if (diagonal) {
    Qv += static_cast<double>(dDv) * dDv / 4;
    Qh += static_cast<double>(dDh) * dDh / 4;
  }
  const double A = Qv * Qv, B = Qh * Qh, S = A + B;
  if (S < 1) return (Hs + Vs) >> 2;
  return static_cast<int32_t>((Hs * A + Vs * B) / (2 * S));
}

// value * min(Hs, Vs) / max(Hs, Vs), truncated; unchanged when Hs = Vs.
inline uint16_t scaled(int32_t value, int32_t Hs, int32_t Vs) {
  if (Hs == Vs) return static_cast<uint16_t>(value);
  const int64_t lo = std::min(Hs, Vs), hi = std::max(Hs, Vs);
  return static_cast<uint16_t>(value * lo / hi);
}

inline uint16_t predict(const LineFit& line, int32_t green) {
  const double v = line.slope * green + line.intercept;
  if (v > kMaxSample) return kMaxSample;
  if (!(v >= 0)) return 0;
  return static_cast<uint16_t>(v);
}

inline uint16_t clamp12(int32_t v) {
  return static_cast<uint16_t>(std::clamp(v, 0, static_cast<int32_t>(kMaxSample)));
}

// Red and blue of (r, c) := its green plus the color differences of (rs, cs).
inline void copy_differences(const Plane& p, int32_t r, int32_t c, int32_t rs, int32_t cs) {
  const int32_t g = p.G(r, c), gs = p.G(rs, cs);
  p.R(r, c) = clamp12(g + (p.R(rs, cs) - gs));
  p.B(r, c) = clamp12(g + (p.B(rs, cs) - gs));
}

// The neighbours of a red or blue site: greens left, right, above and below, and the
// other chroma color on the diagonals. A site on the left or right edge lacks the
// neighbours of that side (their values are not read).
struct Neighbours {
  int32_t left, right, above, below, ul, ur, ll, lr;
  enum Side { kNone, kNoLeft, kNoRight } missing;
};

// Green of a site, with the sums Hs and Vs its regression pair is scaled by.
int32_t site_green(const Neighbours& n, bool diagonal, int32_t& Hs, int32_t& Vs) {
  int32_t dH, Ds, dDh = 0, dDv = 0;
  if (n.missing == Neighbours::kNoLeft) {
    Hs = 2 * n.right;
    dH = 0;
    Ds = 2 * (n.ur + n.lr);
  } else if (n.missing == Neighbours::kNoRight) {
    Hs = 2 * n.left;
    dH = 0;
    Ds = 2 * (n.ul + n.ll);
  } else {
    Hs = n.left + n.right;
    dH = n.left - n.right;
    Ds = n.ul + n.ur + n.ll + n.lr;
    dDh = (n.ul + n.ll) - (n.ur + n.lr);
    dDv = (n.ul + n.ur) - (n.ll + n.lr);
  }
  Vs = n.above + n.below;
  return directed_green(Hs, Vs, dH, n.above - n.below, Ds, dDh, dDv, diagonal);
}

// The regression pairs of a cell's red site and blue site.
struct CellPairs {
  uint16_t red_x, red_y, blue_x, blue_y;
};

// Green at the red site (r, c) and the blue site (r + 1, c + 1) into their green words;
// returns their pairs. The first and last cells of a row pair take the border forms.
CellPairs cell_green(const Plane& p, int32_t W, int32_t H, int32_t r, int32_t c) {
  const int32_t ra = r > 0 ? r - 1 : 1;          // the row above a red site, mirrored at the top
  const int32_t R = r + 1;                       // the blue sites' row
  const int32_t rb = R + 1 < H ? R + 1 : H - 2;  // the row below it, mirrored at the bottom
  const bool first = c == 0, last = c == W - 2, diagonal = !first && !last;
  const int32_t cl = first ? c : c - 1;  // stands in for a missing left column
  const int32_t C = c + 1;
  const int32_t cr = last ? C : C + 1;  // stands in for a missing right column
  int32_t Hs, Vs;
  CellPairs pairs;
  // Red site (r, c): its diagonal neighbours are blue sites.
  const Neighbours red{
      p.G(r, cl),     p.G(r, c + 1),     p.G(ra, c),
      p.G(r + 1, c),  p.B(ra, cl),       p.B(ra, c + 1),
      p.B(r + 1, cl), p.B(r + 1, c + 1), first ? Neighbours::kNoLeft : Neighbours::kNone};
  const int32_t green_r = site_green(red, diagonal, Hs, Vs);
  p.at(r, c, kGreenWord) = static_cast<uint16_t>(green_r);
  pairs.red_y = scaled(p.R(r, c), Hs, Vs);
  pairs.red_x = scaled(green_r, Hs, Vs);
  // Blue site (R, C): its diagonal neighbours are red sites.
  const Neighbours blue{
      p.G(R, C - 1),  p.G(R, cr),        p.G(R - 1, C),
      p.G(rb, C),     p.R(R - 1, C - 1), p.R(R - 1, cr),
      p.R(rb, C - 1), p.R(rb, cr),       last ? Neighbours::kNoRight : Neighbours::kNone};
  const int32_t green_b = site_green(blue, diagonal, Hs, Vs);
  p.at(R, C, kGreenWord) = static_cast<uint16_t>(green_b);
  pairs.blue_y = scaled(p.B(R, C), Hs, Vs);
  pairs.blue_x = scaled(green_b, Hs, Vs);
  return pairs;
}

// One result row of the half-pixel resampling from the plane's rows r (p0), r - 1, r - 2
// and r + 1, each readable from column -2 to W.
UCAP_KERNEL void resample_kernel(const uint16_t* p0, const uint16_t* pm1, const uint16_t* pm2,
                                 const uint16_t* pp1, uint16_t* out, int32_t W) {
  for (int32_t c = 0; c < W; ++c) {
    const int32_t v = 6 * (pm1[c - 1] + pm1[c] + p0[c - 1] + p0[c]) -
                      (pm1[c - 2] + p0[c - 2] + pm2[c - 1] + pm2[c] + pp1[c - 1] + pp1[c] +
                       pm1[c + 1] + p0[c + 1]);
    out[c] = static_cast<uint16_t>(std::clamp(v >> 4, 0, static_cast<int32_t>(kMaxSample)));
  }
}
void resample_plain(const uint16_t* p0, const uint16_t* pm1, const uint16_t* pm2,
                    const uint16_t* pp1, uint16_t* out, int32_t W) {
  resample_kernel(p0, pm1, pm2, pp1, out, W);
}
UCAP_AVX2_BUILD void resample_avx2(const uint16_t* p0, const uint16_t* pm1, const uint16_t* pm2,
                                   const uint16_t* pp1, uint16_t* out, int32_t W) {
  resample_kernel(p0, pm1, pm2, pp1, out, W);
}
void resample_row(const uint16_t* p0, const uint16_t* pm1, const uint16_t* pm2, const uint16_t* pp1,
                  uint16_t* out, int32_t W) {
  if (simd::avx2()) {
    resample_avx2(p0, pm1, pm2, pp1, out, W);
  } else {
    resample_plain(p0, pm1, pm2, pp1, out, W);
  }
}

}  // namespace

void InterpolateGreenHQ(int32_t W, int32_t H, uint16_t* image) {
  if (image == nullptr || !high_quality_interpolation_fits(W, H)) return;
  const Plane p(image, W);
  for (int32_t r = 0; r <= H - 2; r += 2) {
    for (int32_t c = 0; c <= W - 2; c += 2) {
      const CellPairs pairs = cell_green(p, W, H, r, c);
      p.R(r + 1, c) = pairs.red_y;
      p.R(r + 1, c + 1) = pairs.red_x;
      p.B(r, c + 1) = pairs.blue_y;
      p.B(r, c) = pairs.blue_x;
    }
  }
}

LineFit FitLine(const uint16_t (&x)[9], const uint16_t (&y)[9]) {
  uint32_t px[11], py[11];
  for (int i = 0; i < 9; ++i) {
    px[i] = x[i];
    py[i] = y[i];
  }
  px[9] = py[9] = kMaxSample;
  px[10] = py[10] = 0;
  uint32_t sx = 0, sy = 0, sxx = 1, sxy = 1;
  for (int i = 0; i < 11; ++i) {
    sx += px[i];
    sy += py[i];
    sxx += px[i] * px[i];
    sxy += px[i] * py[i];
  }
  double Sx = sx, Sy = sy, Sxx = sxx, Sxy = sxy;
  double D = 11 * Sxx - Sx * Sx;
  double slope = (11 * Sxy - Sy * Sx) / D;
  double intercept = (Sy * Sxx - Sxy * Sx) / D;
  int worst = 0;
  double largest = -1.0;
  for (int i = 0; i < 11; ++i) {
    const double e = px[i] * slope + intercept - py[i];
    const double e2 = e * e;
    if (e2 > largest) {
      largest = e2;
      worst = i;
    }
  }
  sx -= px[worst];
  sy -= py[worst];
  sxx -= px[worst] * px[worst];
  sxy -= px[worst] * py[worst];
  Sx = sx;
  Sy = sy;
  Sxx = sxx;
  Sxy = sxy;
  D = 10 * Sxx - Sx * Sx;
  slope = (10 * Sxy - Sy * Sx) / D;
  intercept = (Sy * Sxx - Sxy * Sx) / D;
  return {slope, intercept};
}

void AssembleSingle(int32_t word, int32_t W, int32_t H, uint16_t* image,
                    const StageServices& services) {
  if (image == nullptr || word < 0 || word > 2 || W <= 0 || H <= 0) return;
  // Each result needs the plane's rows r - 2 to r + 1 as they were before this step. Four
  // rows of the plane are kept here, each padded with two copies of column 0 on the left
  // and a copy of its last column on the right (the stand-ins for columns outside the
  // image), so result row r can replace plane row r at once; a fifth row holds the result.
  const size_t span = static_cast<size_t>(W) + 3;
  const platform::WorkBuffer temp = services.work_area(5 * span * sizeof(uint16_t));
  if (!temp) {
    services.report(msg::kAssembleSingleMemory);
    return;
  }
  uint16_t* rows = temp.as<uint16_t>();
  const size_t stride = static_cast<size_t>(W) * 3;
  auto kept = [&](int32_t r) { return rows + static_cast<size_t>(r % 4) * span + 2; };
  auto keep = [&](int32_t r) {
    const uint16_t* src = image + static_cast<size_t>(r) * stride + word;
    uint16_t* q = kept(r);
    for (int32_t c = 0; c < W; ++c) q[c] = src[3 * static_cast<size_t>(c)];
    q[-2] = q[-1] = q[0];
    q[W] = q[W - 1];
  };
  uint16_t* out = rows + 4 * span;
  keep(0);
  for (int32_t r = 0; r < H; ++r) {
    if (r + 1 < H) keep(r + 1);  // into the slot of row r - 3, which no result needs any more
    // Rows above the image stand for row r, the row below it for row r.
    const uint16_t* p0 = kept(r);
    const uint16_t* pm1 = kept(r >= 1 ? r - 1 : r);
    const uint16_t* pm2 = kept(r >= 2 ? r - 2 : r);
    const uint16_t* pp1 = kept(r + 1 < H ? r + 1 : r);
    resample_row(p0, pm1, pm2, pp1, out, W);
    uint16_t* dst = image + static_cast<size_t>(r) * stride + word;
    for (int32_t c = 0; c < W; ++c) dst[3 * static_cast<size_t>(c)] = out[c];
  }
}

namespace {

// ---- The streamed run ----------------------------------------------------------------
// The steps above, run cell row by cell row so that the image passes through the cache
// once: seeding of row t + 1 and green of row t, the line fits of row t - 1, the borders
// of the rows that are then final, and the resampling of every row whose neighbours are
// final. The image is read once (its mosaic, split by column parity into a ring of rows)
// and written once (the resampled pixels); in between, the pairs, greens and the three
// color planes live in rings of rows in the work area. Every step computes the values it
// would compute in the staged order. The arithmetic runs over plain arrays of up to
// kLanes sites or cells, which the compiler turns into vector code; the line fits and the
// resampling also have hand-written AVX2 forms giving the same numbers.

constexpr int32_t kLanes = 64;

// uint32 to double through a signed conversion, which has a vector instruction; exact.
UCAP_KERNEL double Wide(uint32_t v) {
  return static_cast<double>(static_cast<int32_t>(v ^ 0x80000000u)) + 2147483648.0;
}

// A batch of red or blue sites with all their neighbours (the interior cells of a row).
struct SiteBatch {
  int32_t left[kLanes], right[kLanes], above[kLanes], below[kLanes];
  int32_t ul[kLanes], ur[kLanes], ll[kLanes], lr[kLanes], sample[kLanes];
  int32_t green[kLanes];
  uint32_t x[kLanes], y[kLanes];  // the regression pair
};

// The full form of site_green and Scaled, lane by lane.
UCAP_KERNEL void green_sites(SiteBatch& s) {
  for (int32_t k = 0; k < kLanes; ++k) {
    const int32_t Hs = s.left[k] + s.right[k], dH = s.left[k] - s.right[k];
    const int32_t Vs = s.above[k] + s.below[k], dV = s.above[k] - s.below[k];
    const int32_t Ds = s.ul[k] + s.ur[k] + s.ll[k] + s.lr[k];
    const int32_t dDh = (s.ul[k] + s.ll[k]) - (s.ur[k] + s.lr[k]);
    const int32_t dDv = (s.ul[k] + s.ur[k]) - (s.ll[k] + s.lr[k]);
    const double tv = static_cast<double>(3 * Hs - Ds - Vs);
    const double th = static_cast<double>(3 * Vs - Ds - Hs);
    double Qv = tv * tv / 16 + static_cast<double>(dV) * dV;
    double Qh = th * th / 16 + static_cast<double>(dH) * dH;
    Qv += static_cast<double>(dDv) * dDv / 4;
    Qh += static_cast<double>(dDh) * dDh / 4;
    const double A = Qv * Qv, B = Qh * Qh, S = A + B;
    // The directed value is only used for S >= 1; the stand-in divisor keeps the unused
    // lanes finite.
    const double divisor = S < 1 ? 1.0 : S;
    const int32_t directed = static_cast<int32_t>((Hs * A + Vs * B) / (2 * divisor));
    const int32_t green = S < 1 ? (Hs + Vs) >> 2 : directed;
    s.green[k] = green;
    // value * lo / hi truncated: exact in double precision (the product is below 2^35).
    const int32_t lo = Hs < Vs ? Hs : Vs, hi = Hs < Vs ? Vs : Hs;
    const double h = hi > 0 ? static_cast<double>(hi) : 1.0;
    const bool same = Hs == Vs;
    const double l = static_cast<double>(lo);
    const uint32_t gx =
        static_cast<uint32_t>(static_cast<int32_t>(static_cast<double>(green) * l / h));
    const uint32_t sy =
        static_cast<uint32_t>(static_cast<int32_t>(static_cast<double>(s.sample[k]) * l / h));
    s.x[k] = same ? static_cast<uint32_t>(green) : gx;
    s.y[k] = same ? static_cast<uint32_t>(s.sample[k]) : sy;
  }
}

// The line fits of a batch of cells of one color: FitLine over the pairs of the 3 x 3
// sites around each, then the predictions for the cell's four greens. Each phase is its
// own loop without branches, so that every one of them vectorises.
struct FitBatch {
  // Points of cell k: row a (0 above, 1 own, 2 below), column k + b (b = 0, 1, 2).
  const uint32_t* x[3];
  const uint32_t* y[3];
  const int32_t* g[4];  // greens of the cell's pixels
  uint16_t* dst[2];     // the results' rows (2 pixels a cell)
  // For fit_avx2: the sums of x, y, x * x and x * y over points k to k + 2 of row a, and
  // the points as pairs (x in the low half).
  const uint32_t* sums[3][4];
  const uint64_t* xy[3];
  const double* dx[3];  // the points' x and y as doubles
  const double* dy[3];
  int32_t out[4][kLanes];  // the predicted values
  uint32_t sx[kLanes], sy[kLanes], sxx[kLanes], sxy[kLanes];
  double slope[kLanes], intercept[kLanes], largest[kLanes], wx[kLanes], wy[kLanes];
};

UCAP_KERNEL int32_t Predicted(double slope, double intercept, int32_t green) {
  const double v = slope * green + intercept;
  const double kept = v > kMaxSample ? static_cast<double>(kMaxSample) : v >= 0 ? v : 0.0;
  return static_cast<int32_t>(kept);
}

// Point (x, y)'s turn in cell k's search for the largest squared residual (the first on
// a tie).
UCAP_KERNEL void consider(FitBatch& f, int32_t k, double x, double y) {
  const double e = x * f.slope[k] + f.intercept[k] - y;
  const double e2 = e * e;
  const bool worse = e2 > f.largest[k];
  f.largest[k] = worse ? e2 : f.largest[k];
  f.wx[k] = worse ? x : f.wx[k];
  f.wy[k] = worse ? y : f.wy[k];
}

UCAP_KERNEL void fit_cells(FitBatch& f) {
  // Sums in 32-bit unsigned arithmetic, as FitLine forms them; wrapping makes the order
  // of the terms irrelevant. The anchors first.
  constexpr uint32_t kTop = kMaxSample;
  for (int32_t k = 0; k < kLanes; ++k) {
    f.sx[k] = f.sy[k] = kTop;
    f.sxx[k] = f.sxy[k] = 1 + kTop * kTop;
  }
  for (int a = 0; a < 3; ++a) {
    const uint32_t* __restrict x = f.x[a];
    const uint32_t* __restrict y = f.y[a];
    for (int32_t k = 0; k < kLanes; ++k) {
      const uint32_t x0 = x[k], x1 = x[k + 1], x2 = x[k + 2];
      const uint32_t y0 = y[k], y1 = y[k + 1], y2 = y[k + 2];
      f.sx[k] += x0 + x1 + x2;
      f.sy[k] += y0 + y1 + y2;
      f.sxx[k] += x0 * x0 + x1 * x1 + x2 * x2;
      f.sxy[k] += x0 * y0 + x1 * y1 + x2 * y2;
    }
  }
  for (int32_t k = 0; k < kLanes; ++k) {
    const double Sx = Wide(f.sx[k]), Sy = Wide(f.sy[k]), Sxx = Wide(f.sxx[k]), Sxy = Wide(f.sxy[k]);
    const double D = 11 * Sxx - Sx * Sx;
    f.slope[k] = (11 * Sxy - Sy * Sx) / D;
    f.intercept[k] = (Sy * Sxx - Sxy * Sx) / D;
    f.largest[k] = -1.0;
    f.wx[k] = static_cast<int32_t>(f.x[0][k]);
    f.wy[k] = static_cast<int32_t>(f.y[0][k]);
  }
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      const uint32_t* __restrict x = f.x[a] + b;
      const uint32_t* __restrict y = f.y[a] + b;
      for (int32_t k = 0; k < kLanes; ++k) {
        consider(f, k, static_cast<int32_t>(x[k]), static_cast<int32_t>(y[k]));
      }
    }
  }
  for (const double anchor : {static_cast<double>(kMaxSample), 0.0}) {
    for (int32_t k = 0; k < kLanes; ++k) consider(f, k, anchor, anchor);
  }
  for (int32_t k = 0; k < kLanes; ++k) {
    const uint32_t wx = static_cast<uint32_t>(static_cast<int32_t>(f.wx[k]));
    const uint32_t wy = static_cast<uint32_t>(static_cast<int32_t>(f.wy[k]));
    const double Sx = Wide(f.sx[k] - wx), Sy = Wide(f.sy[k] - wy);
    const double Sxx = Wide(f.sxx[k] - wx * wx), Sxy = Wide(f.sxy[k] - wx * wy);
    const double D = 10 * Sxx - Sx * Sx;
    f.slope[k] = (10 * Sxy - Sy * Sx) / D;
    f.intercept[k] = (Sy * Sxx - Sxy * Sx) / D;
  }
  for (int p = 0; p < 4; ++p) {
    for (int32_t k = 0; k < kLanes; ++k)
      f.out[p][k] = Predicted(f.slope[k], f.intercept[k], f.g[p][k]);
  }
  for (int32_t k = 0; k < kLanes; ++k) {
    f.dst[0][2 * k] = static_cast<uint16_t>(f.out[0][k]);
    f.dst[0][2 * k + 1] = static_cast<uint16_t>(f.out[1][k]);
    f.dst[1][2 * k] = static_cast<uint16_t>(f.out[2][k]);
    f.dst[1][2 * k + 1] = static_cast<uint16_t>(f.out[3][k]);
  }
}

void green_plain(SiteBatch& s) { green_sites(s); }
void fit_plain(FitBatch& f) { fit_cells(f); }
UCAP_AVX2_BUILD void green_avx2(SiteBatch& s) { green_sites(s); }

#if UCAP_HAS_AVX2_BUILD
// uint32 lanes to double, exactly (Wide on four lanes).
UCAP_AVX2_BUILD inline __m256d wide4(__m128i v) {
  return _mm256_add_pd(_mm256_cvtepi32_pd(_mm_xor_si128(v, _mm_set1_epi32(INT32_MIN))),
                       _mm256_set1_pd(2147483648.0));
}

// consider on four cells; `pair` is the point as x and y in the halves of each lane.
UCAP_AVX2_BUILD inline void consider4(__m256d x, __m256d y, __m256d pair, __m256d slope,
                                      __m256d intercept, __m256d& largest, __m256d& worst) {
  const __m256d e = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(x, slope), intercept), y);
  const __m256d e2 = _mm256_mul_pd(e, e);
  const __m256d worse = _mm256_cmp_pd(e2, largest, _CMP_GT_OQ);
  largest = _mm256_max_pd(e2, largest);  // e2 > largest ? e2 : largest
  // A byte blend: the compiler turns a double blend by a compared mask into a test of the
  // mask's sign and the blend.
  worst = _mm256_castsi256_pd(_mm256_blendv_epi8(
      _mm256_castpd_si256(worst), _mm256_castpd_si256(pair), _mm256_castpd_si256(worse)));
}
UCAP_AVX2_BUILD inline __m256d pairs4(const uint64_t* v) {
  return _mm256_castsi256_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(v)));
}

// The second half of fit_cells for the four cells at k: the first line, the search for the
// point of the largest residual, the refit and the predictions; the sums in integer lanes.
UCAP_AVX2_BUILD inline void fit_four(FitBatch& f, int32_t k, __m128i sx, __m128i sy, __m128i sxx,
                                     __m128i sxy) {
  const __m256d eleven = _mm256_set1_pd(11.0), ten = _mm256_set1_pd(10.0);
  __m256d Sx = wide4(sx), Sy = wide4(sy), Sxx = wide4(sxx), Sxy = wide4(sxy);
  __m256d D = _mm256_sub_pd(_mm256_mul_pd(eleven, Sxx), _mm256_mul_pd(Sx, Sx));
  __m256d slope =
      _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(eleven, Sxy), _mm256_mul_pd(Sy, Sx)), D);
  __m256d intercept =
      _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(Sy, Sxx), _mm256_mul_pd(Sxy, Sx)), D);
  __m256d largest = _mm256_set1_pd(-1.0);
  __m256d worst = pairs4(f.xy[0] + k);
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      consider4(_mm256_loadu_pd(f.dx[a] + k + b), _mm256_loadu_pd(f.dy[a] + k + b),
                pairs4(f.xy[a] + k + b), slope, intercept, largest, worst);
    }
  }
  const __m256d top = _mm256_set1_pd(static_cast<double>(kMaxSample)), zero = _mm256_setzero_pd();
  const __m256d top_pair =
      _mm256_castsi256_pd(_mm256_set1_epi64x((int64_t{kMaxSample} << 32) | kMaxSample));
  consider4(top, top, top_pair, slope, intercept, largest, worst);
  consider4(zero, zero, zero, slope, intercept, largest, worst);
  const __m256i split = _mm256_permutevar8x32_epi32(_mm256_castpd_si256(worst),
                                                    _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7));
  const __m128i iwx = _mm256_castsi256_si128(split), iwy = _mm256_extracti128_si256(split, 1);
  Sx = wide4(_mm_sub_epi32(sx, iwx));
  Sy = wide4(_mm_sub_epi32(sy, iwy));
  Sxx = wide4(_mm_sub_epi32(sxx, _mm_mullo_epi32(iwx, iwx)));
  Sxy = wide4(_mm_sub_epi32(sxy, _mm_mullo_epi32(iwx, iwy)));
  D = _mm256_sub_pd(_mm256_mul_pd(ten, Sxx), _mm256_mul_pd(Sx, Sx));
  slope = _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(ten, Sxy), _mm256_mul_pd(Sy, Sx)), D);
  intercept = _mm256_div_pd(_mm256_sub_pd(_mm256_mul_pd(Sy, Sxx), _mm256_mul_pd(Sxy, Sx)), D);
  __m128i out[4];
  for (int p = 0; p < 4; ++p) {
    const __m256d g =
        _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(f.g[p] + k)));
    const __m256d v = _mm256_add_pd(_mm256_mul_pd(slope, g), intercept);
    // max(v, 0) is 0 for NaN, as Predicted; a -0 where Predicted keeps -0 truncates alike.
    out[p] = _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(v, zero), top));
  }
  // Both pixels of each cell, in their order along the rows.
  for (int row = 0; row < 2; ++row) {
    const __m128i a = out[2 * row], b = out[2 * row + 1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(f.dst[row] + 2 * k),
                     _mm_packus_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b)));
  }
}

UCAP_AVX2_BUILD inline __m256i lanes8(const uint32_t* v) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v));
}

// fit_cells with the state of eight cells in registers.
UCAP_AVX2_BUILD void fit_avx2(FitBatch& f) {
  for (int32_t k = 0; k < kLanes; k += 8) {
    __m256i sx = _mm256_set1_epi32(kMaxSample), sy = sx;
    __m256i sxx = _mm256_set1_epi32(1 + kMaxSample * kMaxSample), sxy = sxx;
    // Wrapping sums: the order of the terms does not matter.
    for (int a = 0; a < 3; ++a) {
      sx = _mm256_add_epi32(sx, lanes8(f.sums[a][0] + k));
      sy = _mm256_add_epi32(sy, lanes8(f.sums[a][1] + k));
      sxx = _mm256_add_epi32(sxx, lanes8(f.sums[a][2] + k));
      sxy = _mm256_add_epi32(sxy, lanes8(f.sums[a][3] + k));
    }
    fit_four(f, k, _mm256_castsi256_si128(sx), _mm256_castsi256_si128(sy),
             _mm256_castsi256_si128(sxx), _mm256_castsi256_si128(sxy));
    fit_four(f, k + 4, _mm256_extracti128_si256(sx, 1), _mm256_extracti128_si256(sy, 1),
             _mm256_extracti128_si256(sxx, 1), _mm256_extracti128_si256(sxy, 1));
  }
}

// The sums and pairs of FitBatch over a ring row of n + 2 points (x and y readable to n + 1).
UCAP_AVX2_BUILD void row_sums_avx2(const uint32_t* __restrict x, const uint32_t* __restrict y,
                                   uint32_t* __restrict sx, uint32_t* __restrict sy,
                                   uint32_t* __restrict sxx, uint32_t* __restrict sxy,
                                   uint64_t* __restrict xy, double* __restrict dx,
                                   double* __restrict dy, int32_t n) {
  for (int32_t m = 0; m < n; ++m) {
    sx[m] = x[m] + x[m + 1] + x[m + 2];
    sy[m] = y[m] + y[m + 1] + y[m + 2];
    sxx[m] = x[m] * x[m] + x[m + 1] * x[m + 1] + x[m + 2] * x[m + 2];
    sxy[m] = x[m] * y[m] + x[m + 1] * y[m + 1] + x[m + 2] * y[m + 2];
  }
  for (int32_t m = 0; m < n + 2; ++m) {
    xy[m] = x[m] | static_cast<uint64_t>(y[m]) << 32;
    dx[m] = static_cast<int32_t>(x[m]);
    dy[m] = static_cast<int32_t>(y[m]);
  }
}

UCAP_AVX2_BUILD inline __m256i samples16(const uint16_t* v) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(v));
}

// resample_kernel for rows whose samples (columns -2 to W) are below 4096, sixteen results
// at a time: the sum of the four samples weighted 6 and the sum of the other eight fit in
// 16-bit lanes, 6 * S4 - S8 is formed in 32 bits. Reads and writes up to 15 columns past
// the row's end (their results unused).
UCAP_AVX2_BUILD void resample_small_avx2(const uint16_t* p0, const uint16_t* pm1,
                                         const uint16_t* pm2, const uint16_t* pp1, uint16_t* out,
                                         int32_t W) {
  const __m256i weights = _mm256_set1_epi32(static_cast<int32_t>(0xFFFF0006u));  // 6, -1
  const __m256i top = _mm256_set1_epi16(kMaxSample), zero = _mm256_setzero_si256();
  for (int32_t c = 0; c < W; c += 16) {
    const __m256i s4 =
        _mm256_add_epi16(_mm256_add_epi16(samples16(pm1 + c - 1), samples16(pm1 + c)),
                         _mm256_add_epi16(samples16(p0 + c - 1), samples16(p0 + c)));
    const __m256i s8 = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_add_epi16(samples16(pm1 + c - 2), samples16(p0 + c - 2)),
                         _mm256_add_epi16(samples16(pm2 + c - 1), samples16(pm2 + c))),
        _mm256_add_epi16(_mm256_add_epi16(samples16(pp1 + c - 1), samples16(pp1 + c)),
                         _mm256_add_epi16(samples16(pm1 + c + 1), samples16(p0 + c + 1))));
    const __m256i lo =
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpacklo_epi16(s4, s8), weights), 4);
    const __m256i hi =
        _mm256_srai_epi32(_mm256_madd_epi16(_mm256_unpackhi_epi16(s4, s8), weights), 4);
    const __m256i v = _mm256_min_epi16(_mm256_max_epi16(_mm256_packs_epi32(lo, hi), zero), top);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + c), v);
  }
}

#else
void fit_avx2(FitBatch& f) { fit_cells(f); }
void resample_small_avx2(const uint16_t*, const uint16_t*, const uint16_t*, const uint16_t*,
                         uint16_t*, int32_t) {}
void row_sums_avx2(const uint32_t*, const uint32_t*, uint32_t*, uint32_t*, uint32_t*, uint32_t*,
                   uint64_t*, double*, double*, int32_t) {}
#endif

class Stream {
 public:
  // Rows of cells (ring rows of the pairs, mosaic rows split by column parity, greens):
  // kLanes + 2 entries of room past the row's end (read and written by the last batch,
  // results unused).
  static size_t cell_span(int32_t W) { return static_cast<size_t>(W / 2) + kLanes + 2; }
  // Rows of the color planes: two stand-ins for columns -2 and -1 on the left, one for
  // column W and room for the last batch's lanes past the row's end on the right.
  static size_t plane_span(int32_t W) { return static_cast<size_t>(W) + 2 * kLanes + 4; }
  static constexpr int kPairRows = 6, kPointRows = 12, kCellRows = 12 + 24 + 16 + 4;
  static constexpr int kPlaneRows = 3 * 8 + 3;
  static size_t work_bytes(int32_t W) {
    return kPairRows * cell_span(W) * sizeof(uint64_t) +
           kPointRows * cell_span(W) * sizeof(double) +
           kCellRows * cell_span(W) * sizeof(uint32_t) +
           kPlaneRows * plane_span(W) * sizeof(uint16_t);
  }

  // `rows` points to the H rows of the image.
  Stream(int32_t W, int32_t H, uint16_t* const* rows, void* work)
      : W_(W), H_(H), cx_(W / 2), cy_(H / 2), p_(rows), wide_(simd::avx2()) {
    const size_t span = cell_span(W);
    uint64_t* pairs = static_cast<uint64_t*>(work);
    for (int i = 0; i < kPairRows; ++i) pairs_[i] = pairs + static_cast<size_t>(i) * span;
    double* points = reinterpret_cast<double*>(pairs + kPairRows * span);
    for (int i = 0; i < kPointRows; ++i) points_[i] = points + static_cast<size_t>(i) * span;
    uint32_t* ring = reinterpret_cast<uint32_t*>(points + kPointRows * span);
    // The lanes past a row's end read these rows' room: zero, not indeterminate.
    std::fill(ring, ring + kCellRows * span, 0);
    for (int i = 0; i < 12; ++i) ring_[i] = ring + static_cast<size_t>(i) * span;
    for (int i = 0; i < 24; ++i) sums_[i] = ring + static_cast<size_t>(12 + i) * span;
    int32_t* cells = reinterpret_cast<int32_t*>(ring + 36 * span);
    for (int i = 0; i < 16; ++i) split_[i] = cells + static_cast<size_t>(i) * span;
    for (int i = 0; i < 4; ++i) greens_[i] = cells + static_cast<size_t>(16 + i) * span;
    uint16_t* planes = reinterpret_cast<uint16_t*>(ring + kCellRows * span);
    for (int i = 0; i < kPlaneRows; ++i)
      planes_[i] = planes + static_cast<size_t>(i) * plane_span(W) + 2;
  }

  void run() {
    seed(0);
    int32_t final_end = 0;
    for (int32_t t = 0; t < cy_; ++t) {
      if (t + 1 < cy_) seed(t + 1);
      green(t);
      const int32_t j = t - 1;
      if (j < 1 || j > cy_ - 2) continue;
      fit(j);
      finish_row(2 * j);
      finish_row(2 * j + 1);
      final_end = 2 * j + 2;
      if (j == 1) {
        for (int32_t r : {0, 1}) {
          copy_row_differences(r, 2);
          finish_row(r);
        }
      }
      if (j == cy_ - 2) {
        for (int32_t r : {H_ - 2, H_ - 1}) {
          copy_row_differences(r, H_ - 3);
          finish_row(r);
        }
        final_end = H_;
      }
      resample_up_to(final_end);
    }
  }

 private:
  // Ring rows: [color * 6 + value * 3 + slot], color 0 red, 1 blue; value 0 x, 1 y.
  uint32_t* ring(int color, int value, int32_t j) const {
    return ring_[color * 6 + value * 3 + j % 3];
  }
  // fit_avx2's sums (`quantity` as in FitBatch::sums) and pairs of the ring rows.
  uint32_t* sums(int color, int quantity, int32_t j) const {
    return sums_[color * 12 + quantity * 3 + j % 3];
  }
  uint64_t* pairs(int color, int32_t j) const { return pairs_[color * 3 + j % 3]; }
  double* points(int color, int value, int32_t j) const {
    return points_[color * 6 + value * 3 + j % 3];
  }
  // Row r of the plane of color word `word` as it stands before the resampling; ring of
  // eight rows.
  uint16_t* plane(int word, int32_t r) const { return planes_[word * 8 + r % 8]; }

  // 1. The measured red and blue samples of the first two and last two cells of cell
  // row j into their own words of the image, where the border forms of step 2 read them.
  // (The other cells read them from the split rows.)
  void seed(int32_t j) const {
    uint16_t* t = p_.row(2 * j);
    uint16_t* b = p_.row(2 * j + 1);
    for (int32_t i : {0, 1, cx_ - 2, cx_ - 1}) {
      t[6 * static_cast<size_t>(i) + kRedWord] = t[6 * static_cast<size_t>(i) + kGreenWord];
      b[6 * static_cast<size_t>(i) + 3 + kBlueWord] =
          b[6 * static_cast<size_t>(i) + 3 + kGreenWord];
    }
  }

  // The mosaic (green words) of row r at even and odd columns, as read before step 2
  // changes them; ring of eight rows.
  int32_t* even(int32_t r) const { return split_[2 * (r % 8)]; }
  int32_t* odd(int32_t r) const { return split_[2 * (r % 8) + 1]; }
  void split_up_to(int32_t last) {
    for (; split_rows_ <= last; ++split_rows_) {
      const uint16_t* src = p_.row(split_rows_) + kGreenWord;
      int32_t* e = even(split_rows_);
      int32_t* o = odd(split_rows_);
      for (int32_t i = 0; i < cx_; ++i) {
        e[i] = src[6 * static_cast<size_t>(i)];
        o[i] = src[6 * static_cast<size_t>(i) + 3];
      }
    }
  }
  // Greens of the red (color 0) and blue (1) sites of cell row j; ring of two rows.
  int32_t* greens(int color, int32_t j) const { return greens_[color * 2 + j % 2]; }

  // A batch's neighbours: lane k's left, right, above and below at [k], its diagonal
  // neighbours at ul[k], ul[k + 1] (upper) and ll[k], ll[k + 1] (lower).
  static void fill(SiteBatch& s, const int32_t* left, const int32_t* right, const int32_t* above,
                   const int32_t* below, const int32_t* ul, const int32_t* ll,
                   const int32_t* sample) {
    std::copy_n(left, kLanes, s.left);
    std::copy_n(right, kLanes, s.right);
    std::copy_n(above, kLanes, s.above);
    std::copy_n(below, kLanes, s.below);
    std::copy_n(ul, kLanes, s.ul);
    std::copy_n(ul + 1, kLanes, s.ur);
    std::copy_n(ll, kLanes, s.ll);
    std::copy_n(ll + 1, kLanes, s.lr);
    std::copy_n(sample, kLanes, s.sample);
  }

  // 2. Green and pairs of cell row j; the first and last cells by the border forms. The
  // sites' neighbours are mosaic samples (greens, and the seeded reds and blues). Then the
  // green plane's rows 2j and 2j + 1, which are final.
  void green(int32_t j) {
    const int32_t r = 2 * j, R = r + 1;
    const int32_t ra = r > 0 ? r - 1 : 1, rb = R + 1 < H_ ? R + 1 : H_ - 2;
    split_up_to(R + 1 < H_ ? R + 1 : R);
    for (int32_t i0 = 1; i0 < cx_ - 1; i0 += kLanes) {
      fill(red_, odd(r) + i0 - 1, odd(r) + i0, even(ra) + i0, even(R) + i0, odd(ra) + i0 - 1,
           odd(R) + i0 - 1, even(r) + i0);
      fill(blue_, even(R) + i0, even(R) + i0 + 1, odd(r) + i0, odd(rb) + i0, even(r) + i0,
           even(rb) + i0, odd(R) + i0);
      if (wide_) {
        green_avx2(red_);
        green_avx2(blue_);
      } else {
        green_plain(red_);
        green_plain(blue_);
      }
      std::copy_n(red_.green, kLanes, greens(0, j) + i0);
      std::copy_n(blue_.green, kLanes, greens(1, j) + i0);
      std::copy_n(red_.x, kLanes, ring(0, 0, j) + i0);
      std::copy_n(red_.y, kLanes, ring(0, 1, j) + i0);
      std::copy_n(blue_.x, kLanes, ring(1, 0, j) + i0);
      std::copy_n(blue_.y, kLanes, ring(1, 1, j) + i0);
    }
    // After the batches, whose lanes past the row's end write over the last cell's entries.
    for (int32_t i : {0, cx_ - 1}) {
      const CellPairs pairs = cell_green(p_, W_, H_, r, 2 * i);
      ring(0, 0, j)[i] = pairs.red_x;
      ring(0, 1, j)[i] = pairs.red_y;
      ring(1, 0, j)[i] = pairs.blue_x;
      ring(1, 1, j)[i] = pairs.blue_y;
      greens(0, j)[i] = p_.G(r, 2 * i);
      greens(1, j)[i] = p_.G(R, 2 * i + 1);
    }
    if (wide_) {
      for (int color = 0; color < 2; ++color) {
        row_sums_avx2(ring(color, 0, j), ring(color, 1, j), sums(color, 0, j), sums(color, 1, j),
                      sums(color, 2, j), sums(color, 3, j), pairs(color, j), points(color, 0, j),
                      points(color, 1, j), cx_ + kLanes - 2);
      }
    }
    const int32_t* gr = greens(0, j);
    const int32_t* gb = greens(1, j);
    const int32_t* ot = odd(r);
    const int32_t* eb = even(R);
    uint16_t* top = plane(kGreenWord, r);
    uint16_t* bottom = plane(kGreenWord, R);
    uint32_t bits_top = 0, bits_bottom = 0;
    for (int32_t i = 0; i < cx_; ++i) {
      top[2 * i] = static_cast<uint16_t>(gr[i]);
      top[2 * i + 1] = static_cast<uint16_t>(ot[i]);
      bottom[2 * i] = static_cast<uint16_t>(eb[i]);
      bottom[2 * i + 1] = static_cast<uint16_t>(gb[i]);
      bits_top |= top[2 * i] | top[2 * i + 1];
      bits_bottom |= bottom[2 * i] | bottom[2 * i + 1];
    }
    small_green_[r % 8] = bits_top <= kMaxSample;
    small_green_[R % 8] = bits_bottom <= kMaxSample;
    pad(top);
    pad(bottom);
  }

  // 3. Red and blue of the interior cells of cell row j.
  void fit(int32_t j) {
    for (int32_t i0 = 1; i0 < cx_ - 1; i0 += kLanes) {
      for (int color = 0; color < 2; ++color) {
        FitBatch& f = fits_[color];
        f.g[0] = greens(0, j) + i0;
        f.g[1] = odd(2 * j) + i0;
        f.g[2] = even(2 * j + 1) + i0;
        f.g[3] = greens(1, j) + i0;
        const int word = color == 0 ? kRedWord : kBlueWord;
        f.dst[0] = plane(word, 2 * j) + 2 * i0;
        f.dst[1] = plane(word, 2 * j + 1) + 2 * i0;
        for (int a = 0; a < 3; ++a) {
          f.x[a] = ring(color, 0, j - 1 + a) + i0 - 1;
          f.y[a] = ring(color, 1, j - 1 + a) + i0 - 1;
          f.xy[a] = pairs(color, j - 1 + a) + i0 - 1;
          f.dx[a] = points(color, 0, j - 1 + a) + i0 - 1;
          f.dy[a] = points(color, 1, j - 1 + a) + i0 - 1;
          for (int q = 0; q < 4; ++q) f.sums[a][q] = sums(color, q, j - 1 + a) + i0 - 1;
        }
        if (wide_) {
          fit_avx2(f);
        } else {
          fit_plain(f);
        }
      }
    }
  }

  // Red and blue of (r, c) := its green plus the color differences of (rs, cs).
  void copy_differences(int32_t r, int32_t c, int32_t rs, int32_t cs) const {
    const int32_t g = plane(kGreenWord, r)[c], gs = plane(kGreenWord, rs)[cs];
    for (int word : {kRedWord, kBlueWord})
      plane(word, r)[c] = clamp12(g + (plane(word, rs)[cs] - gs));
  }
  // 5. Red and blue of row r's columns 2 to W - 3 from row rs.
  void copy_row_differences(int32_t r, int32_t rs) const {
    for (int32_t c = 2; c <= W_ - 3; ++c) copy_differences(r, c, rs, c);
  }
  // 5. The first two and last two columns of row r, which is then final.
  void finish_row(int32_t r) const {
    copy_differences(r, 0, r, 2);
    copy_differences(r, 1, r, 2);
    copy_differences(r, W_ - 2, r, W_ - 3);
    copy_differences(r, W_ - 1, r, W_ - 3);
    pad(plane(kRedWord, r));
    pad(plane(kBlueWord, r));
  }
  // The stand-ins for columns -2, -1 and W.
  void pad(uint16_t* q) const {
    q[-2] = q[-1] = q[0];
    q[W_] = q[W_ - 1];
  }

  // 6. Resampling of the three planes into the image, row by row, as AssembleSingle does it.
  void resample_up_to(int32_t final_end) {
    while (resampled_ < H_) {
      const int32_t r = resampled_;
      const int32_t need = r + 1 < H_ ? r + 1 : r;
      if (need >= final_end) return;
      const int32_t rm1 = r >= 1 ? r - 1 : r, rm2 = r >= 2 ? r - 2 : r;
      const int32_t rp1 = r + 1 < H_ ? r + 1 : r;
      uint16_t* out[3];
      for (int word = 0; word < 3; ++word) {
        out[word] = planes_[24 + word];
        // Red and blue are clamped to 12 bits; green is the mosaic's and may not be.
        const bool small = word != kGreenWord || (small_green_[r % 8] && small_green_[rm1 % 8] &&
                                                  small_green_[rm2 % 8] && small_green_[rp1 % 8]);
        if (wide_ && small) {
          resample_small_avx2(plane(word, r), plane(word, rm1), plane(word, rm2), plane(word, rp1),
                              out[word], W_);
        } else {
          resample_row(plane(word, r), plane(word, rm1), plane(word, rm2), plane(word, rp1),
                       out[word], W_);
        }
      }
      interleave_colors(p_.row(r), out[0], out[1], out[2], W_);
      ++resampled_;
    }
  }

  int32_t W_, H_, cx_, cy_;
  Plane p_;
  bool wide_;
  uint32_t* ring_[12];
  uint32_t* sums_[24];
  uint64_t* pairs_[kPairRows];
  double* points_[kPointRows];
  int32_t* split_[16];
  int32_t* greens_[4];
  uint16_t* planes_[kPlaneRows];
  bool small_green_[8] = {};  // whether a green plane row's samples are below 4096
  int32_t split_rows_ = 0, resampled_ = 0;
  SiteBatch red_{}, blue_{};
  FitBatch fits_[2]{};
};

// Rows a band of the streamed run computes beyond its own on either side (run_color_bands).
// Values computed
// at a band's false top and bottom edges spread 5 rows inwards (green and pairs 1, fits 2,
// border copies and resampling 2 more); the band's own rows lie beyond.
constexpr int32_t kHalo = 8;
// Fewest rows worth a band of their own.
constexpr int32_t kBandRows = 128;

// Runs the whole interpolator streamed, in row bands on the pool; false (image untouched)
// without its work area.
bool interpolate_streamed(int32_t W, int32_t H, uint16_t* image, const StageServices& services) {
  return for_color_bands(W, H, image, kHalo, kBandRows, Stream::work_bytes(W), services,
                         [&](const ColorBand& band) {
                           Stream stream(W, band.height, band.rows, band.work);
                           stream.run();
                         });
}

}  // namespace

void InterpolateHighQuality(int32_t /*quality*/, int32_t W, int32_t H, uint16_t* image,
                            const StageServices& services) {
  if (image == nullptr || !high_quality_interpolation_fits(W, H)) return;
  const Plane p(image, W);
  if (interpolate_streamed(W, H, image, services)) return;

  // Without the work area of the streamed run: each step over the whole image, in place.

  // 1. The measured red and blue samples into their own color words.
  for (int32_t r = 0; r < H; r += 2) {
    for (int32_t c = 0; c < W; c += 2) {
      p.R(r, c) = static_cast<uint16_t>(p.G(r, c));
      p.B(r + 1, c + 1) = static_cast<uint16_t>(p.G(r + 1, c + 1));
    }
  }
  // 2. Green at red and blue sites, with the regression pairs.
  InterpolateGreenHQ(W, H, image);

  // 3. Red and blue of the interior cells from lines fitted over the 3 x 3 same-color
  // sites. The pairs live in color words that the results overwrite, so each cell's
  // results go two rows up and two columns left, where no later cell reads pairs, and
  // are moved into place afterwards.
  for (int32_t r0 = 2; r0 <= H - 4; r0 += 2) {
    for (int32_t c0 = 2; c0 <= W - 4; c0 += 2) {
      uint16_t xr[9], yr[9], xb[9], yb[9];
      int k = 0;
      for (int32_t i = -1; i <= 1; ++i) {
        for (int32_t j = -1; j <= 1; ++j, ++k) {
          const int32_t rr = r0 + 2 * i, cr = c0 + 2 * j;  // red site
          xr[k] = p.R(rr + 1, cr + 1);
          yr[k] = p.R(rr + 1, cr);
          const int32_t rb = rr + 1, cb = cr + 1;  // blue site
          xb[k] = p.B(rb - 1, cb - 1);
          yb[k] = p.B(rb - 1, cb);
        }
      }
      const LineFit red = FitLine(xr, yr), blue = FitLine(xb, yb);
      for (int32_t dr = 0; dr < 2; ++dr) {
        for (int32_t dc = 0; dc < 2; ++dc) {
          const int32_t g = p.G(r0 + dr, c0 + dc);
          p.R(r0 - 2 + dr, c0 - 2 + dc) = predict(red, g);
          p.B(r0 - 2 + dr, c0 - 2 + dc) = predict(blue, g);
        }
      }
    }
  }
  for (int32_t r = H - 3; r >= 2; --r) {
    for (int32_t c = W - 3; c >= 2; --c) {
      p.R(r, c) = p.R(r - 2, c - 2);
      p.B(r, c) = p.B(r - 2, c - 2);
    }
  }

  // 5. Borders by color differences.
  for (int32_t c = 2; c <= W - 3; ++c) {
    copy_differences(p, 0, c, 2, c);
    copy_differences(p, 1, c, 2, c);
    copy_differences(p, H - 2, c, H - 3, c);
    copy_differences(p, H - 1, c, H - 3, c);
  }
  for (int32_t r = 0; r < H; ++r) {
    copy_differences(p, r, 0, r, 2);
    copy_differences(p, r, 1, r, 2);
    copy_differences(p, r, W - 2, r, W - 3);
    copy_differences(p, r, W - 1, r, W - 3);
  }

  // 6. Half-pixel resampling of each plane.
  AssembleSingle(kRedWord, W, H, image, services);
  AssembleSingle(kGreenWord, W, H, image, services);
  AssembleSingle(kBlueWord, W, H, image, services);
}

}  // namespace ucap
