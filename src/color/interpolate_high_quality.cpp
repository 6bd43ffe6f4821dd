#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "color/interpolation.h"
#include "core/reporter.h"
#include "platform/platform.h"

namespace ucap {

namespace {

constexpr int kBlueWord = 0, kGreenWord = 1, kRedWord = 2;

class Plane {
 public:
  Plane(uint16_t* data, int32_t w) : data_(data), stride_(static_cast<size_t>(w) * 3) {}
  uint16_t& at(int32_t r, int32_t c, int word) const {
    return data_[static_cast<size_t>(r) * stride_ + static_cast<size_t>(c) * 3 + word];
  }
  int32_t G(int32_t r, int32_t c) const { return at(r, c, kGreenWord); }
  uint16_t& R(int32_t r, int32_t c) const { return at(r, c, kRedWord); }
  uint16_t& B(int32_t r, int32_t c) const { return at(r, c, kBlueWord); }

 private:
  uint16_t* data_;
  size_t stride_;
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
inline uint16_t Scaled(int32_t value, int32_t Hs, int32_t Vs) {
  if (Hs == Vs) return static_cast<uint16_t>(value);
  const int64_t lo = std::min(Hs, Vs), hi = std::max(Hs, Vs);
  return static_cast<uint16_t>(value * lo / hi);
}

inline uint16_t Predict(const LineFit& line, int32_t green) {
  const double v = line.slope * green + line.intercept;
  if (v > kMaxSample) return kMaxSample;
  if (!(v >= 0)) return 0;
  return static_cast<uint16_t>(v);
}

inline uint16_t Clamp12(int32_t v) {
  return static_cast<uint16_t>(std::clamp(v, 0, static_cast<int32_t>(kMaxSample)));
}

// Red and blue of (r, c) := its green plus the color differences of (rs, cs).
inline void copy_differences(const Plane& p, int32_t r, int32_t c, int32_t rs, int32_t cs) {
  const int32_t g = p.G(r, c), gs = p.G(rs, cs);
  p.R(r, c) = Clamp12(g + (p.R(rs, cs) - gs));
  p.B(r, c) = Clamp12(g + (p.B(rs, cs) - gs));
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

}  // namespace

void InterpolateGreenHQ(int32_t W, int32_t H, uint16_t* image) {
  if (image == nullptr || !high_quality_interpolation_fits(W, H)) return;
  const Plane p(image, W);
  for (int32_t r = 0; r <= H - 2; r += 2) {
    const int32_t ra = r > 0 ? r - 1 : 1;  // the row above a red site, mirrored at the top
    const int32_t R = r + 1;               // the blue sites' row
    const int32_t rb = R + 1 < H ? R + 1 : H - 2;  // the row below it, mirrored at the bottom
    for (int32_t c = 0; c <= W - 2; c += 2) {
      const bool first = c == 0, last = c == W - 2, diagonal = !first && !last;
      const int32_t cl = first ? c : c - 1;  // stands in for a missing left column
      const int32_t C = c + 1;
      const int32_t cr = last ? C : C + 1;   // stands in for a missing right column
      int32_t Hs, Vs;
      // Red site (r, c): its diagonal neighbours are blue sites.
      const Neighbours red{p.G(r, cl),     p.G(r, c + 1),     p.G(ra, c),
                           p.G(r + 1, c),  p.B(ra, cl),       p.B(ra, c + 1),
                           p.B(r + 1, cl), p.B(r + 1, c + 1),
                           first ? Neighbours::kNoLeft : Neighbours::kNone};
      const int32_t green_r = site_green(red, diagonal, Hs, Vs);
      p.at(r, c, kGreenWord) = static_cast<uint16_t>(green_r);
      p.R(r + 1, c) = Scaled(p.R(r, c), Hs, Vs);
      p.R(r + 1, c + 1) = Scaled(green_r, Hs, Vs);
      // Blue site (R, C): its diagonal neighbours are red sites.
      const Neighbours blue{p.G(R, C - 1),  p.G(R, cr),       p.G(R - 1, C),
                            p.G(rb, C),     p.R(R - 1, C - 1), p.R(R - 1, cr),
                            p.R(rb, C - 1), p.R(rb, cr),
                            last ? Neighbours::kNoRight : Neighbours::kNone};
      const int32_t green_b = site_green(blue, diagonal, Hs, Vs);
      p.at(R, C, kGreenWord) = static_cast<uint16_t>(green_b);
      p.B(R - 1, C) = Scaled(p.B(R, C), Hs, Vs);
      p.B(R - 1, C - 1) = Scaled(green_b, Hs, Vs);
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
    for (int32_t c = 0; c < W; ++c) {
      const int32_t v = 6 * (pm1[c - 1] + pm1[c] + p0[c - 1] + p0[c]) -
                        (pm1[c - 2] + p0[c - 2] + pm2[c - 1] + pm2[c] + pp1[c - 1] + pp1[c] +
                         pm1[c + 1] + p0[c + 1]);
      out[c] = static_cast<uint16_t>(std::clamp(v >> 4, 0, static_cast<int32_t>(kMaxSample)));
    }
    uint16_t* dst = image + static_cast<size_t>(r) * stride + word;
    for (int32_t c = 0; c < W; ++c) dst[3 * static_cast<size_t>(c)] = out[c];
  }
}

void InterpolateHighQuality(int32_t /*quality*/, int32_t W, int32_t H, uint16_t* image,
                            const StageServices& services) {
  if (image == nullptr || !high_quality_interpolation_fits(W, H)) return;
  const Plane p(image, W);

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
          p.R(r0 - 2 + dr, c0 - 2 + dc) = Predict(red, g);
          p.B(r0 - 2 + dr, c0 - 2 + dc) = Predict(blue, g);
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
