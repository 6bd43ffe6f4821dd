// The interpolators: the standard (color-ratio) and high-quality ones against step-by-step
// models, the line fit, the block interpolator, the entries that pick and bin, and the AVX2
// builds against the plain ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "acquisition/frame_stages.h"
#include "color/interpolation.h"
#include "core/reporter.h"
#include "core/simd.h"
#include "flow/stage_adapters.h"
#include "interp_test_util.h"
#include "platform/seams.h"
#include "support/messages.h"

namespace {

using interp_test::identity_gains;
using interp_test::mosaic_image;
using ucap::library_services;
using ucap::Rect;

// A plain model of the interpolator, step after step over the whole image with separate
// arrays per cell, to check the in-place implementation on arbitrary frames.
std::vector<uint16_t> model_interpolation(const std::vector<uint16_t>& mosaic, int w, int h) {
  const int cx = w / 2, cy = h / 2;
  auto G = [&](const std::vector<int>& green, int x, int y) { return green[y * w + x]; };
  std::vector<int> green(mosaic.begin(), mosaic.end());
  std::vector<int> red(cx * cy), blue(cx * cy), rr(cx * cy), rb(cx * cy);
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i) {
      red[j * cx + i] = mosaic[2 * j * w + 2 * i];
      blue[j * cx + i] = mosaic[(2 * j + 1) * w + 2 * i + 1];
    }
  // The four green neighbours of a site, sorted.
  auto neighbours = [&](int x, int y) {
    std::vector<int> n;
    const bool red_site = x % 2 == 0;
    const int below = red_site    ? G(green, x, y + 1)
                      : y + 1 < h ? G(green, x, y + 1)
                                  : G(green, x, y - 1);
    const int above = red_site ? (y > 0 ? G(green, x, y - 1) : below) : G(green, x, y - 1);
    const int right = red_site    ? G(green, x + 1, y)
                      : x + 1 < w ? G(green, x + 1, y)
                                  : G(green, x - 1, y);
    const int left = red_site ? (x > 0 ? G(green, x - 1, y) : right) : G(green, x - 1, y);
    n = {above, left, right, below};
    std::sort(n.begin(), n.end());
    return n;
  };
  auto median = [&](std::vector<int>& ratio) {
    auto at = [&](const std::vector<int>& v, int i, int j) {
      return v[std::clamp(j, 0, cy - 1) * cx + std::clamp(i, 0, cx - 1)];
    };
    auto mid = [](int a, int b, int c) {
      return std::max(std::min(a, b), std::min(std::max(a, b), c));
    };
    std::vector<int> rows(cx * cy);
    for (int j = 0; j < cy; ++j)
      for (int i = 0; i < cx; ++i)
        rows[j * cx + i] = mid(at(ratio, i - 1, j), at(ratio, i, j), at(ratio, i + 1, j));
    for (int j = 0; j < cy; ++j)
      for (int i = 0; i < cx; ++i)
        ratio[j * cx + i] = mid(at(rows, i, j - 1), at(rows, i, j), at(rows, i, j + 1));
  };
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i)
      for (int site = 0; site < 2; ++site) {
        const int x = 2 * i + site, y = 2 * j + site;
        const auto n = neighbours(x, y);
        const int s = site == 0 ? red[j * cx + i] : blue[j * cx + i];
        int g, ratio;
        if (n[1] == 0)
          g = 0, ratio = 1024;
        else if (s > n[2])
          g = n[2], ratio = std::min(65535, s * 1024 / n[2]);
        else if (s <= n[1])
          g = n[1], ratio = s * 1024 / n[1];
        else
          g = s, ratio = 1024;
        green[y * w + x] = g;
        (site == 0 ? rr : rb)[j * cx + i] = ratio;
      }
  median(rr);
  median(rb);
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i) {
      green[2 * j * w + 2 * i] = std::min(4095, red[j * cx + i] * 1024 / (rr[j * cx + i] + 1));
      green[(2 * j + 1) * w + 2 * i + 1] =
          std::min(4095, blue[j * cx + i] * 1024 / (rb[j * cx + i] + 1));
    }
  for (int j = 0; j < cy; ++j)
    for (int i = 0; i < cx; ++i)
      for (int site = 0; site < 2; ++site) {
        const int x = 2 * i + site, y = 2 * j + site;
        const auto n = neighbours(x, y);
        const int c = green[y * w + x], v = site == 0 ? red[j * cx + i] : blue[j * cx + i];
        int g, ratio;
        if (n[1] == 0) {
          g = 0, ratio = 1024;
        } else {
          const int a = 1024 - (n[3] - n[0]) * 512 / n[3];
          g = c > n[2] ? n[2] : c > n[1] ? c : n[1];
          ratio = std::min(65535, (v - g) * a / g + 1024);
        }
        green[y * w + x] = g;
        (site == 0 ? rr : rb)[j * cx + i] = ratio;
      }
  median(rr);
  median(rb);
  std::vector<uint16_t> out(w * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int cell = (y / 2) * cx + x / 2, g = green[y * w + x];
      out[(y * w + x) * 3 + 0] = static_cast<uint16_t>(std::min(4095, (g * rb[cell] + 512) >> 10));
      out[(y * w + x) * 3 + 1] = static_cast<uint16_t>(g);
      out[(y * w + x) * 3 + 2] = static_cast<uint16_t>(std::min(4095, (g * rr[cell] + 512) >> 10));
    }
  return out;
}

TEST(InterpolateStandard, AgreesWithAStepByStepModelOnArbitraryFrames) {
  std::mt19937 rng(6);
  for (int trial = 0; trial < 60; ++trial) {
    // Widths past one batch of cells too.
    const int w = trial < 3 ? 2 * (128 * (trial + 1) + 1) : 4 + 2 * static_cast<int>(rng() % 20);
    const int h = 2 + 2 * static_cast<int>(rng() % 12);
    std::vector<uint16_t> mosaic(w * h);
    const int kind = trial % 3;
    for (auto& v : mosaic)
      v = static_cast<uint16_t>(kind == 0   ? rng() % 4096
                                : kind == 1 ? (rng() % 6 == 0 ? 0 : 900 + rng() % 300)
                                            : (rng() % 2 ? 4095 : rng() % 20));
    auto image = mosaic_image(mosaic, w, h);
    ucap::InterpolateStandard(w, h, image.data());
    ASSERT_EQ(image, model_interpolation(mosaic, w, h)) << w << "x" << h << " kind " << kind;
  }
}

// Samples may hold any 16-bit value: the AVX2 builds (the standard interpolator's quotients
// at their largest dividends and caps; the blocks' and the half-resolution assembly's table
// look-ups) must still give the plain builds' images. Trial 0 is a flat field (red and blue
// 36860, greens 10 and 399) whose refined ratios divide 19142025 exactly by 399, a dividend
// no float holds; the others are random (every fourth a 12-bit mosaic with a word above 12
// bits here and there, as the vector steps stop at one), with widths that leave every
// remainder of the eight-cell vector steps.
TEST(Interpolators, Avx2BuildsGiveThePlainImagesForAnySamples) {
  const auto t = identity_gains();
  std::mt19937 rng(11);
  for (int trial = 0; trial < 24; ++trial) {
    const int w = 2 * (16 + trial) + (trial % 3 == 1 ? 512 : 0), h = 2 + 2 * (trial % 5);
    std::vector<uint16_t> mosaic(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < mosaic.size(); ++i) {
      const int x = static_cast<int>(i % w), y = static_cast<int>(i / w);
      mosaic[i] = static_cast<uint16_t>(trial == 0 ? (x % 2 == y % 2 ? 36860
                                                      : y % 2        ? 399
                                                                     : 10)
                                        : trial % 4 == 3
                                            ? (i % 97 == 0 ? 4096 + rng() % 61439 : rng() % 4096)
                                        : trial % 2 ? rng()
                                        : rng() % 3 ? 60000 + rng() % 5536
                                                    : rng() % 8);
    }
    std::vector<uint16_t> images[2];
    for (bool avx2 : {false, true}) {
      ucap::simd::allow_avx2(avx2);
      auto standard = mosaic_image(mosaic, w, h);
      ucap::InterpolateStandard(w, h, standard.data());
      std::vector<uint16_t> blocks(3 * mosaic.size()), half(3 * mosaic.size() / 2);
      ucap::InterpolateBlocks(*t, blocks.data(), mosaic.data(), Rect{0, 0, w, h});
      ucap::AssembleHalfColor(*t, half.data(), mosaic.data(), 1, Rect{0, 0, w, h});
      images[avx2] = standard;
      images[avx2].insert(images[avx2].end(), blocks.begin(), blocks.end());
      images[avx2].insert(images[avx2].end(), half.begin(), half.end());
    }
    ASSERT_EQ(images[0], images[1]) << w << "x" << h << " trial " << trial;
  }
}

// A plain model of the interpolator: separate planes and pair arrays, every step over the
// whole image, results into fresh planes. Checks the in-place implementation, whose
// write-back order is easy to get wrong, on arbitrary frames.
std::vector<uint16_t> model_high_quality(const std::vector<uint16_t>& mosaic, int W, int H) {
  auto idx = [&](int r, int c) { return static_cast<size_t>(r) * W + c; };
  std::vector<int> g(mosaic.begin(), mosaic.end());  // samples, greens at green sites
  std::vector<double> px(W * H, 0), py(W * H, 0);    // regression pair of each red/blue site
  // Green at a red (blue) site; the other chroma color's samples sit on the diagonals.
  for (int r = 0; r < H; r += 2)
    for (int c = 0; c < W; c += 2)
      for (int site = 0; site < 2; ++site) {
        const int y = r + site, x = c + site;
        const int ya = y == 0 ? 1 : y - 1, yb = y == H - 1 ? H - 2 : y + 1;
        const bool no_left = x == 0, no_right = x == W - 1;
        const int left = no_left ? 0 : mosaic[idx(y, x - 1)],
                  right = no_right ? 0 : mosaic[idx(y, x + 1)];
        const int above = mosaic[idx(ya, x)], below = mosaic[idx(yb, x)];
        auto diag = [&](int yy, int xx) {
          return xx < 0 || xx >= W ? 0 : static_cast<int>(mosaic[idx(yy, xx)]);
        };
        const int ul = diag(ya, x - 1), ur = diag(ya, x + 1), ll = diag(yb, x - 1),
                  lr = diag(yb, x + 1);
        int Hs = left + right, dH = left - right, Ds = ul + ur + ll + lr;
        if (no_left) Hs = 2 * right, dH = 0, Ds = 2 * (ur + lr);
        if (no_right) Hs = 2 * left, dH = 0, Ds = 2 * (ul + ll);
        const bool border = c == 0 || c == W - 2;
        const double dDh = border ? 0 : (ul + ll) - (ur + lr),
                     dDv = border ? 0 : (ul + ur) - (ll + lr);
        const int Vs = above + below, dV = above - below;
        const double tv = 3 * Hs - Ds - Vs, th = 3 * Vs - Ds - Hs;
        const double Qv = tv * tv / 16 + static_cast<double>(dV) * dV + dDv * dDv / 4;
        const double Qh = th * th / 16 + static_cast<double>(dH) * dH + dDh * dDh / 4;
        const double A = Qv * Qv, B = Qh * Qh, S = A + B;
        const int green = S < 1 ? (Hs + Vs) >> 2 : static_cast<int>((Hs * A + Vs * B) / (2 * S));
        g[idx(y, x)] = green;
        auto scaled = [&](int v) {
          return Hs == Vs ? v
                          : static_cast<int>(static_cast<int64_t>(v) * std::min(Hs, Vs) /
                                             std::max(Hs, Vs));
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
            (site == 0 ? red : blue)[idx(r0 + dr, c0 + dc)] = v > 4095    ? 4095
                                                              : !(v >= 0) ? 0
                                                                          : static_cast<int>(v);
          }
      }
  auto copy_difference = [&](int r, int c, int rs, int cs) {
    red[idx(r, c)] = std::clamp(g[idx(r, c)] + red[idx(rs, cs)] - g[idx(rs, cs)], 0, 4095);
    blue[idx(r, c)] = std::clamp(g[idx(r, c)] + blue[idx(rs, cs)] - g[idx(rs, cs)], 0, 4095);
  };
  for (int c = 2; c <= W - 3; ++c) copy_difference(0, c, 2, c), copy_difference(1, c, 2, c);
  for (int c = 2; c <= W - 3; ++c)
    copy_difference(H - 2, c, H - 3, c), copy_difference(H - 1, c, H - 3, c);
  for (int r = 0; r < H; ++r) copy_difference(r, 0, r, 2), copy_difference(r, 1, r, 2);
  for (int r = 0; r < H; ++r)
    copy_difference(r, W - 2, r, W - 3), copy_difference(r, W - 1, r, W - 3);
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

TEST(FitLine, DropsThePointWithTheLargestResidualAndAnchorsPullTheLineThroughTheOrigin) {
  uint16_t x[9], y[9];
  for (int k = 0; k < 9; ++k) x[k] = y[k] = static_cast<uint16_t>(300 + 100 * k);
  y[4] = 4000;  // far off the diagonal that the anchors share
  ucap::LineFit line = ucap::FitLine(x, y);
  EXPECT_NEAR(line.slope, 1.0, 1e-12);
  EXPECT_NEAR(line.intercept, 0.0, 1e-9);
  // Nine points of y = x / 2 and the anchors; the (4095, 4095) anchor lies furthest off and
  // is dropped, leaving the nine points and (0, 0) on y = x / 2 (up to the 1 that keeps the
  // sums of squares away from 0).
  for (int k = 0; k < 9; ++k) {
    x[k] = static_cast<uint16_t>(400 * (k + 1));
    y[k] = static_cast<uint16_t>(200 * (k + 1));
  }
  line = ucap::FitLine(x, y);
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

// Tables that tell the colors apart: red 3x + 1, green 3x, blue 3x + 2.
std::unique_ptr<ucap::ColorTables> tagged_gains() {
  auto t = identity_gains();
  for (int i = 0; i < ucap::kTableSize; ++i) {
    t->gain[ucap::kRed][i] = static_cast<uint16_t>(3 * i + 1);
    t->gain[ucap::kGreen][i] = static_cast<uint16_t>(3 * i);
    t->gain[ucap::kBlue][i] = static_cast<uint16_t>(3 * i + 2);
  }
  return t;
}

TEST(InterpolateBlocks, TheWorkedSixByFourFrame) {
  // Samples 10, 21, 32, ... row by row. Each pixel takes the block whose top-left corner
  // it is; the last column and row use the sites inside, the bottom-right pixel the greens
  // of the block at (4, 2). Means of two greens are truncated. Each color goes through its
  // own table.
  const int w = 6, h = 4;
  std::vector<uint16_t> raw(w * h);
  for (int i = 0; i < w * h; ++i) raw[i] = static_cast<uint16_t>(10 + 11 * i);
  std::vector<uint16_t> out(w * h * 3);
  ucap::InterpolateBlocks(*tagged_gains(), out.data(), raw.data(), Rect{0, 0, w, h});
  std::vector<uint16_t> expected = {
      // blue, green, red, before the tables
      87,  48,  10,  87,  59,  32,  109, 70,  32,  109, 81,  54,  131, 92,  54,  131, 65,  54,
      87,  114, 142, 87,  125, 164, 109, 136, 164, 109, 147, 186, 131, 158, 186, 131, 197, 186,
      219, 180, 142, 219, 191, 164, 241, 202, 164, 241, 213, 186, 263, 224, 186, 263, 197, 186,
      219, 208, 142, 219, 230, 164, 241, 230, 164, 241, 252, 186, 263, 252, 186, 263, 224, 186};
  const int tag[3] = {2, 0, 1};  // blue 3x + 2, green 3x, red 3x + 1
  for (size_t i = 0; i < expected.size(); ++i)
    expected[i] = static_cast<uint16_t>(3 * expected[i] + tag[i % 3]);
  EXPECT_EQ(out, expected);
}

TEST(bin_columns, WindowsFollowTheTableForEveryBinning) {
  // Columns averaged, relative to q = 2bp: even output column, odd output column of a
  // pair that is not the last.
  const std::vector<std::vector<int>> even = {{},        {},           {0, 2},
                                              {0, 2, 4}, {0, 2, 4, 6}, {0, 2, 4, 6, 8}};
  const std::vector<std::vector<int>> odd = {
      {}, {}, {1, 3, 5}, {3, 5, 7}, {3, 5, 7, 9, 11}, {5, 7, 9, 11, 13}};
  std::mt19937 rng(8);
  for (int b = 2; b <= 5; ++b) {
    const int W = 8 * b + 3;
    std::vector<uint16_t> row(W);
    for (auto& v : row) v = static_cast<uint16_t>(rng() % 4096);
    const int out_w = 2 * ((W / b) / 2);
    std::vector<uint16_t> out(out_w);
    ucap::bin_columns(out.data(), row.data(), W, 1, b);
    for (int p = 0; p < out_w / 2; ++p) {
      const int q = 2 * b * p;
      int sum = 0;
      for (int c : even[b]) sum += row[q + c];
      EXPECT_EQ(out[2 * p], sum / static_cast<int>(even[b].size())) << "b " << b << " p " << p;
      sum = 0;
      if (p == out_w / 2 - 1) {
        for (int k = 0; k < b; ++k) sum += row[q + 2 * k + 1];
        EXPECT_EQ(out[2 * p + 1], sum / b) << "b " << b << " last pair";
      } else {
        for (int c : odd[b]) sum += row[q + c];
        EXPECT_EQ(out[2 * p + 1], sum / static_cast<int>(odd[b].size())) << "b " << b;
      }
    }
  }
}

TEST(InterpolateColor, MapsThroughTheTablesOfEachMosaicColor) {
  const auto t = tagged_gains();
  const int w = 6, h = 4;
  std::vector<uint16_t> raw(w * h);
  for (int i = 0; i < w * h; ++i) raw[i] = static_cast<uint16_t>(i == 7 ? 9000 : 50 * i);
  std::vector<uint16_t> mapped(w * h * 3, 0);
  ucap::map_mosaic(*t, mapped.data(), raw.data(), w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const int s = std::min<int>(raw[y * w + x], 4095);
      const int color = (x % 2 == 0 && y % 2 == 0) ? 1 : (x % 2 == 1 && y % 2 == 1) ? 2 : 0;
      EXPECT_EQ(mapped[3 * (y * w + x) + 1], 3 * s + color) << x << "," << y;
    }
  }
}

TEST(InterpolateColor, QualityPicksTheInterpolator) {
  const auto t = identity_gains();
  const int w = 8, h = 6;
  const std::vector<uint16_t> raw = interp_test::random_samples(w * h, 12);
  auto standard = mosaic_image(raw, w, h), high = standard;
  ucap::InterpolateStandard(w, h, standard.data());
  ucap::InterpolateHighQuality(2, w, h, high.data(), library_services());
  for (int quality : {1, 2, 7}) {
    std::vector<uint16_t> out(w * h * 3);
    ucap::InterpolateColor(*t, out.data(), raw.data(), Rect{0, 0, w, h}, quality,
                           library_services());
    EXPECT_EQ(out, quality == 1 ? standard : high) << quality;
  }
}

// Every interpolator turns a flat field into a flat image.
TEST(Interpolators, FlatFieldsGiveFlatImages) {
  const auto t = identity_gains();
  std::mt19937 rng(13);
  for (int trial = 0; trial < 30; ++trial) {
    const int w = 6 + 2 * static_cast<int>(rng() % 8), h = 6 + 2 * static_cast<int>(rng() % 6);
    const uint16_t v = trial == 0 ? 0 : trial == 1 ? 4095 : static_cast<uint16_t>(rng() % 4096);
    const std::vector<uint16_t> raw(w * h, v);
    for (int quality : {1, 2}) {
      std::vector<uint16_t> out(w * h * 3, 0xABCD);
      ucap::InterpolateColor(*t, out.data(), raw.data(), Rect{0, 0, w, h}, quality,
                             library_services());
      ASSERT_EQ(out, std::vector<uint16_t>(out.size(), v)) << "quality " << quality;
    }
    std::vector<uint16_t> blocks(w * h * 3);
    ucap::InterpolateBlocks(*t, blocks.data(), raw.data(), Rect{0, 0, w, h});
    ASSERT_EQ(blocks, std::vector<uint16_t>(blocks.size(), v));
    for (int b = 2; b <= 5; ++b) {
      const int W = w * b, out_w = 2 * ((W / b) / 2);
      const std::vector<uint16_t> wide(W * h, v);
      std::vector<uint16_t> binned(out_w * h * 3);
      ucap::InterpolateBinned(*t, binned.data(), wide.data(), Rect{0, 0, W, h}, b,
                              library_services());
      ASSERT_EQ(binned, std::vector<uint16_t>(binned.size(), v)) << "b " << b;
    }
  }
}

}  // namespace
