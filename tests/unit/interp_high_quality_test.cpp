// The high-quality interpolator: edge-directed green, line fits, borders, resampling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "color/interpolation.h"
#include "core/simd.h"
#include "flow/stage_adapters.h"
#include "core/reporter.h"
#include "interp_test_util.h"
#include "platform/seams.h"
#include "support/messages.h"

namespace {

using ucap::library_services;
using interp_test::mosaic_image;

// A plain model of the interpolator: separate planes and pair arrays, every step over the
// whole image, results into fresh planes. Checks the in-place implementation, whose
// write-back order is easy to get wrong, on arbitrary frames.
std::vector<uint16_t> model_high_quality(const std::vector<uint16_t>& mosaic, int W, int H) {
  auto idx = [&](int r, int c) { return static_cast<size_t>(r) * W + c; };
  std::vector<int> g(mosaic.begin(), mosaic.end());  // samples, greens at green sites
  std::vector<double> px(W * H, 0), py(W * H, 0);     // regression pair of each red/blue site
  // Green at a red (blue) site; the other chroma color's samples sit on the diagonals.
  for (int r = 0; r < H; r += 2)
    for (int c = 0; c < W; c += 2)
      for (int site = 0; site < 2; ++site) {
        const int y = r + site, x = c + site;
        const int ya = y == 0 ? 1 : y - 1, yb = y == H - 1 ? H - 2 : y + 1;
        const bool no_left = x == 0, no_right = x == W - 1;
        const int left = no_left ? 0 : mosaic[idx(y, x - 1)], right = no_right ? 0 : mosaic[idx(y, x + 1)];
        const int above = mosaic[idx(ya, x)], below = mosaic[idx(yb, x)];
        auto diag = [&](int yy, int xx) { return xx < 0 || xx >= W ? 0 : static_cast<int>(mosaic[idx(yy, xx)]); };
        const int ul = diag(ya, x - 1), ur = diag(ya, x + 1), ll = diag(yb, x - 1), lr = diag(yb, x + 1);
        int Hs = left + right, dH = left - right, Ds = ul + ur + ll + lr;
        if (no_left) Hs = 2 * right, dH = 0, Ds = 2 * (ur + lr);
        if (no_right) Hs = 2 * left, dH = 0, Ds = 2 * (ul + ll);
        const bool border = c == 0 || c == W - 2;
        const double dDh = border ? 0 : (ul + ll) - (ur + lr), dDv = border ? 0 : (ul + ur) - (ll + lr);
        const int Vs = above + below, dV = above - below;
        const double tv = 3 * Hs - Ds - Vs, th = 3 * Vs - Ds - Hs;
        const double Qv = tv * tv / 16 + static_cast<double>(dV) * dV + dDv * dDv / 4;
        const double Qh = th * th / 16 + static_cast<double>(dH) * dH + dDh * dDh / 4;
        const double A = Qv * Qv, B = Qh * Qh, S = A + B;
        const int green = S < 1 ? (Hs + Vs) >> 2 : static_cast<int>((Hs * A + Vs * B) / (2 * S));
        g[idx(y, x)] = green;
        auto scaled = [&](int v) {
          return Hs == Vs ? v : static_cast<int>(static_cast<int64_t>(v) * std::min(Hs, Vs) / std::max(Hs, Vs));
        };
        px[idx(y, x)] = static_cast<uint16_t>(scaled(green));
        py[idx(y, x)] = static_cast<uint16_t>(scaled(mosaic[idx(y, x)]));
      }
  std::vector<int> red(W * H, 0), blue(W * H, 0);
  for (int r0 = 2; r0 <= H - 4; r0 += 2)
    for (int c0 = 2; c0 <= W - 4; c0 += 2)
      for (int site = 0; site < 2; ++site) {
        uint16_t x[9], y[9];
        int k = 0;
        for (int i = -1; i <= 1; ++i)
          for (int j = -1; j <= 1; ++j, ++k) {
            x[k] = static_cast<uint16_t>(px[idx(r0 + site + 2 * i, c0 + site + 2 * j)]);
            y[k] = static_cast<uint16_t>(py[idx(r0 + site + 2 * i, c0 + site + 2 * j)]);
          }
        const ucap::LineFit line = ucap::FitLine(x, y);
        for (int dr = 0; dr < 2; ++dr)
          for (int dc = 0; dc < 2; ++dc) {
            const double v = line.slope * g[idx(r0 + dr, c0 + dc)] + line.intercept;
            (site == 0 ? red : blue)[idx(r0 + dr, c0 + dc)] = v > 4095 ? 4095 : !(v >= 0) ? 0 : static_cast<int>(v);
          }
      }
  auto copy_difference = [&](int r, int c, int rs, int cs) {
    red[idx(r, c)] = std::clamp(g[idx(r, c)] + red[idx(rs, cs)] - g[idx(rs, cs)], 0, 4095);
    blue[idx(r, c)] = std::clamp(g[idx(r, c)] + blue[idx(rs, cs)] - g[idx(rs, cs)], 0, 4095);
  };
  for (int c = 2; c <= W - 3; ++c) copy_difference(0, c, 2, c), copy_difference(1, c, 2, c);
  for (int c = 2; c <= W - 3; ++c) copy_difference(H - 2, c, H - 3, c), copy_difference(H - 1, c, H - 3, c);
  for (int r = 0; r < H; ++r) copy_difference(r, 0, r, 2), copy_difference(r, 1, r, 2);
  for (int r = 0; r < H; ++r) copy_difference(r, W - 2, r, W - 3), copy_difference(r, W - 1, r, W - 3);
  auto resample = [&](const std::vector<int>& p) {
    std::vector<int> out(W * H);
    auto at = [&](int r, int c) { return p[idx(r, c)]; };
    for (int r = 0; r < H; ++r)
      for (int c = 0; c < W; ++c) {
        const int rm1 = r >= 1 ? r - 1 : r, rm2 = r >= 2 ? r - 2 : r, rp1 = r + 1 < H ? r + 1 : r;
        const int cm1 = std::max(c - 1, 0), cm2 = std::max(c - 2, 0), cp1 = c + 1 < W ? c + 1 : c;
        const int v = 6 * (at(rm1, cm1) + at(rm1, c) + at(r, cm1) + at(r, c)) -
                      (at(rm1, cm2) + at(r, cm2) + at(rm2, cm1) + at(rm2, c) + at(rp1, cm1) +
                       at(rp1, c) + at(rm1, cp1) + at(r, cp1));
        out[idx(r, c)] = std::clamp(v >> 4, 0, 4095);
      }
    return out;
  };
  const auto R = resample(red), G = resample(g), B = resample(blue);
  std::vector<uint16_t> image(W * H * 3);
  for (size_t i = 0; i < static_cast<size_t>(W) * H; ++i) {
    image[3 * i] = static_cast<uint16_t>(B[i]);
    image[3 * i + 1] = static_cast<uint16_t>(G[i]);
    image[3 * i + 2] = static_cast<uint16_t>(R[i]);
  }
  return image;
}

TEST(InterpolateHighQuality, AgreesWithAStepByStepModelOnArbitraryFrames) {
  std::mt19937 rng(17);
  for (int trial = 0; trial < 40; ++trial) {
    // Both builds of the kernels, on widths below and above one batch of cells.
    ucap::simd::allow_avx2(trial % 2 == 0);
    const int w = 6 + 2 * static_cast<int>(rng() % (trial < 30 ? 12 : 80));
    const int h = 6 + 2 * static_cast<int>(rng() % 10);
    std::vector<uint16_t> mosaic(w * h);
    // Arbitrary samples, a gentle field, and extremes that drive the fits past 0 and 4095.
    for (auto& v : mosaic) {
      v = static_cast<uint16_t>(trial % 3 == 0   ? rng() % 4096
                                : trial % 3 == 1 ? 1500 + rng() % 200
                                : rng() % 2      ? 4095
                                                 : rng() % 64);
    }
    if (trial % 6 == 0) mosaic[rng() % mosaic.size()] = 40000;  // one sample above 12 bits
    auto image = mosaic_image(mosaic, w, h);
    // Every fifth frame without the streamed run's work area: the steps in place.
    if (trial % 5 == 4) ucap::platform::testing::fail_work_allocations(1);
    ucap::InterpolateHighQuality(2, w, h, image.data(), library_services());
    ASSERT_EQ(image, model_high_quality(mosaic, w, h)) << w << "x" << h << " trial " << trial;
  }
  ucap::simd::allow_avx2(true);
}

TEST(FitLine, DropsThePointWithTheLargestResidual) {
  uint16_t x[9], y[9];
  for (int k = 0; k < 9; ++k) x[k] = y[k] = static_cast<uint16_t>(300 + 100 * k);
  y[4] = 4000;  // far off the diagonal that the anchors share
  const ucap::LineFit line = ucap::FitLine(x, y);
  EXPECT_NEAR(line.slope, 1.0, 1e-12);
  EXPECT_NEAR(line.intercept, 0.0, 1e-9);
}

TEST(FitLine, AnchorsPullALineThroughTheOrigin) {
  // Nine points of y = x / 2 and the anchors; the (4095, 4095) anchor lies furthest off and
  // is dropped, leaving the nine points and (0, 0) on y = x / 2 (up to the 1 that keeps the
  // sums of squares away from 0).
  uint16_t x[9], y[9];
  for (int k = 0; k < 9; ++k) {
    x[k] = static_cast<uint16_t>(400 * (k + 1));
    y[k] = static_cast<uint16_t>(200 * (k + 1));
  }
  const ucap::LineFit line = ucap::FitLine(x, y);
  EXPECT_NEAR(line.slope, 0.5, 1e-6);
  EXPECT_NEAR(line.intercept, 0.0, 1e-3);
}

TEST(AssembleSingle, AMissingTemporaryPlaneIsReportedAndTheOtherPlanesGoOn) {
  const int w = 6, h = 6;
  std::vector<uint16_t> image(w * h * 3);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint16_t>(i % 4096);
  const auto before = image;
  ucap_test::MessageCapture capture;
  ucap::platform::testing::fail_work_allocations(1);
  ucap::AssembleSingle(2, w, h, image.data(), library_services());
  EXPECT_EQ(image, before);
  ASSERT_EQ(capture.lines().size(), 1u);
  EXPECT_EQ(capture.lines()[0], ucap::msg::kAssembleSingleMemory);
  ucap::AssembleSingle(2, w, h, image.data(), library_services());
  EXPECT_NE(image, before);
  EXPECT_EQ(capture.lines().size(), 1u);
}

}  // namespace
