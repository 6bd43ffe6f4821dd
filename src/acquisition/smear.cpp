#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>

#include "acquisition/frame_stages.h"
#include "core/bands.h"
#include "core/simd.h"

namespace ucap {

namespace {
// One accumulator per even column of the widest sensor row.
constexpr int32_t kAccumulators = kMaxSensorWidth / 2;

// The column sums are integers below 2^53 and so exact in doubles, which lets the loops
// vectorise. The two sums of products are added up in the order of the plain loop over
// rows and columns, each row's products computed first.
struct SmearSums {
  double sxx = 0.0, sxy = 0.0;
};
constexpr int32_t kPiece = 64;

UCAP_KERNEL SmearSums smear_sums_kernel(const uint16_t* image, int32_t width, int32_t height) {
  const size_t W = static_cast<size_t>(width);
  const int32_t columns = (width + 1) / 2;
  double acc[kAccumulators], squares[kAccumulators], products[kAccumulators];
  for (int32_t j = 0; j < columns; ++j) acc[j] = image[2 * j] - kBlackLevel;
  // With an odd width the last even column is compared with the word after its row above,
  // the first word of its own row: still inside the image.
  SmearSums sums;
  for (int32_t y = 1; y < height; ++y) {
    const uint16_t* row = image + static_cast<size_t>(y) * W;
    if (y % 2 == 1) {
      const uint16_t* above = row - W;
      // Short pieces, so that the processor works out the next piece's products while the
      // additions of this one wait for each other.
      for (int32_t j0 = 0; j0 < columns; j0 += kPiece) {
        const int32_t j1 = std::min(columns, j0 + kPiece);
        for (int32_t j = j0; j < j1; ++j) {
          const double a = acc[j];
          squares[j] = a * a;
          products[j] = static_cast<double>(row[2 * j] - above[2 * j + 1]) * a;
          acc[j] += row[2 * j] - kBlackLevel;
        }
        for (int32_t j = j0; j < j1; ++j) {
          sums.sxx += squares[j];
          sums.sxy += products[j];
        }
      }
    } else {
      for (int32_t j = 0; j < columns; ++j) acc[j] += row[2 * j] - kBlackLevel;
    }
  }
  return sums;
}

SmearSums smear_sums_plain(const uint16_t* image, int32_t width, int32_t height) {
  return smear_sums_kernel(image, width, height);
}
UCAP_AVX2_BUILD SmearSums smear_sums_avx2(const uint16_t* image, int32_t width, int32_t height) {
  return smear_sums_kernel(image, width, height);
}

// Tallest frame the correction runs in doubles for: there every accumulator stays below
// 2^37 and every quotient below 2^31, so the truncated double quotient is the integer one.
constexpr int32_t kMaxDoubleRows = 16384;
constexpr int32_t kSpan = kAccumulators;

// a / n truncated towards zero, for an integer |a| < 2^50 and `reciprocal` the double
// nearest 1 / n of an integer n. a + 0.5 (a - 0.5 for negative a) has the same truncated
// quotient as a, and its quotient lies at least 0.5 / |n| from every integer: farther than
// the two roundings (of 1 / n and of the product) can move it.
UCAP_KERNEL int32_t truncated_quotient(double a, double reciprocal) {
  return static_cast<int32_t>((a + std::copysign(0.5, a)) * reciprocal);
}

// Even columns [2 * first, 2 * end) of every row, kSpan columns at a time. The new values
// go back as whole pairs of words (the odd word rewritten unchanged) where the pair lies in
// the row, which lets the stores vectorise.
UCAP_KERNEL void remove_smear_kernel(uint16_t* image, int32_t width, int32_t height, int32_t first,
                                     int32_t end, double reciprocal) {
  const size_t W = static_cast<size_t>(width);
  double acc[kSpan];
  uint16_t values[kSpan];
  for (int32_t j0 = first; j0 < end; j0 += kSpan) {
    const int32_t count = std::min(kSpan, end - j0);
    const int32_t pairs = std::clamp(width / 2 - j0, 0, count);
    uint16_t* base = image + 2 * static_cast<size_t>(j0);
    for (int32_t j = 0; j < count; ++j) acc[j] = (base[2 * j] - kBlackLevel) * 16;
    for (int32_t y = 1; y < height; ++y) {
      uint16_t* row = base + static_cast<size_t>(y) * W;
      for (int32_t j = 0; j < count; ++j) {
        const int32_t q = truncated_quotient(acc[j], reciprocal);
        const int32_t v = (row[2 * j] - kBlackLevel) * 16 - q;
        acc[j] += v;
        values[j] = static_cast<uint16_t>(std::clamp(v + 520, 0, 65520) >> 4);
      }
      for (int32_t j = 0; j < pairs; ++j) {
        const uint16_t odd = row[2 * j + 1];
        row[2 * j] = values[j];
        row[2 * j + 1] = odd;
      }
      for (int32_t j = pairs; j < count; ++j) row[2 * j] = values[j];
    }
  }
}

void remove_smear_plain(uint16_t* image, int32_t width, int32_t height, int32_t first, int32_t end,
                        double reciprocal) {
  remove_smear_kernel(image, width, height, first, end, reciprocal);
}
UCAP_AVX2_BUILD void remove_smear_avx2(uint16_t* image, int32_t width, int32_t height,
                                       int32_t first, int32_t end, double reciprocal) {
  remove_smear_kernel(image, width, height, first, end, reciprocal);
}

// The estimate's two sums are rounded one term at a time, in a fixed order, which ties
// them to one thread and one long chain of dependent additions. The correction needs only
// the divisor the estimate leads to, and that divisor can mostly be known from the exact
// integer sums, which any number of threads can add up in any order: the rounded sums lie
// within a known distance of the exact ones, and where every value in that range leads to
// the same divisor, so does the rounded estimate. Elsewhere the rounded sums are taken.

// Frames up to this height, whose accumulators stay within kExactLimit, are summed exactly
// in 64-bit column totals: there every term of the rounded sums is an exact double too.
constexpr int32_t kExactRows = 2048;
constexpr int64_t kExactLimit = int64_t{1} << 24;

// Per even column: sum of the squares, of the positive and of the negated negative
// products, and the largest accumulator magnitude of an odd row.
struct ExactColumns {
  uint64_t squares[kAccumulators], above[kAccumulators], below[kAccumulators];
  int32_t largest[kAccumulators];
};

UCAP_KERNEL void exact_sums_kernel(const uint16_t* image, int32_t width, int32_t height,
                                   int32_t first, int32_t end, ExactColumns& out) {
  const size_t W = static_cast<size_t>(width);
  int32_t acc[kAccumulators];
  for (int32_t j = first; j < end; ++j) {
    acc[j] = image[2 * j] - kBlackLevel;
    out.squares[j] = out.above[j] = out.below[j] = 0;
    out.largest[j] = 0;
  }
  for (int32_t y = 1; y < height; ++y) {
    const uint16_t* row = image + static_cast<size_t>(y) * W;
    if (y % 2 == 1) {
      const uint16_t* over = row - W;
      for (int32_t j = first; j < end; ++j) {
        const int32_t a = acc[j];
        const int64_t product = static_cast<int64_t>(row[2 * j] - over[2 * j + 1]) * a;
        out.squares[j] += static_cast<uint64_t>(static_cast<int64_t>(a) * a);
        out.above[j] += static_cast<uint64_t>(product > 0 ? product : 0);
        out.below[j] += static_cast<uint64_t>(product < 0 ? -product : 0);
        out.largest[j] = std::max(out.largest[j], a < 0 ? -a : a);
        acc[j] = a + row[2 * j] - kBlackLevel;
      }
    } else {
      for (int32_t j = first; j < end; ++j) acc[j] += row[2 * j] - kBlackLevel;
    }
  }
}

void exact_sums_plain(const uint16_t* image, int32_t width, int32_t height, int32_t first,
                      int32_t end, ExactColumns& out) {
  exact_sums_kernel(image, width, height, first, end, out);
}
UCAP_AVX2_BUILD void exact_sums_avx2(const uint16_t* image, int32_t width, int32_t height,
                                     int32_t first, int32_t end, ExactColumns& out) {
  exact_sums_kernel(image, width, height, first, end, out);
}

// Steps from an estimate k to the divisor: 0 where the frame stays as it is.
int64_t divisor_of(double k) {
  if (k == 0.0 || (k > 0.0 && k < 1e-8) || (k < 0.0 && k > -1e-8)) return 0;
  k = std::clamp(k, -1e-4, 1e-4);
  return static_cast<int64_t>(1.0 / k);
}

// The divisor from the exact sums when every rounding of the estimate's sums leads to the
// same one; none where it might not (or the frame is beyond the exact sums).
std::optional<int64_t> exact_divisor(const uint16_t* image, int32_t width, int32_t height) {
  if (height > kExactRows) return std::nullopt;
  const int32_t columns = (width + 1) / 2;
  const auto columns_of = std::make_unique<ExactColumns>();
  ExactColumns& c = *columns_of;
  const auto sums = simd::avx2() ? exact_sums_avx2 : exact_sums_plain;
  bands::for_bands(columns, 16, 64,
                   [&](int32_t first, int32_t end) { sums(image, width, height, first, end, c); });
  uint64_t xx_low = 0, xx_high = 0, above = 0, below = 0;
  for (int32_t j = 0; j < columns; ++j) {
    if (c.largest[j] > kExactLimit) return std::nullopt;
    xx_low += c.squares[j];
    xx_high += xx_low < c.squares[j] ? 1 : 0;
    above += c.above[j];
    below += c.below[j];
  }
  // Every term is an exact double, so rounding alone separates the sums from the exact
  // ones: by at most (n - 1) u times the sum of the terms' magnitudes after n terms.
  if (xx_low == 0 && xx_high == 0) return 0;  // every term 0: so is the rounded sum
  constexpr double u = 0x1p-53;
  const double terms = static_cast<double>(columns) * (height / 2);
  const double drift = 2.0 * terms * u;  // bounds (n - 1) u / (1 - (n - 1) u) with room
  const double sxx = static_cast<double>(xx_high) * 0x1p64 + static_cast<double>(xx_low);
  const double sxy = static_cast<double>(static_cast<int64_t>(above - below));
  const double xy_error = drift * static_cast<double>(above + below) + 4.0 * u * std::fabs(sxy);
  if (!(std::fabs(sxy) > 8.0 * xy_error)) return std::nullopt;  // perhaps 0, either sign
  const double relative = 2.0 * (xy_error / std::fabs(sxy) + drift + 16.0 * u);
  const double k = std::fabs(sxy / sxx), low = k * (1.0 - relative), high = k * (1.0 + relative);
  const int64_t sign = sxy < 0.0 ? -1 : 1;
  if (high < 1e-8) return 0;
  if (low < 1e-8) return std::nullopt;
  if (low > 1e-4) return divisor_of(static_cast<double>(sign) * 1e-4);
  if (high >= 1e-4) return std::nullopt;
  const double most = (1.0 / low) * (1.0 + 4.0 * u), least = (1.0 / high) * (1.0 - 4.0 * u);
  const auto n = static_cast<int64_t>(least);
  if (static_cast<int64_t>(most) != n) return std::nullopt;
  return sign * n;
}

}  // namespace

int64_t smear_divisor(const uint16_t* image, int32_t width, int32_t height) {
  if (image == nullptr || width <= 0 || width > kMaxSensorWidth || height < 2) return 0;
  const std::optional<int64_t> n = exact_divisor(image, width, height);
  return n ? *n : divisor_of(EstimateSmear(image, width, height));
}

double EstimateSmear(const uint16_t* image, int32_t width, int32_t height) {
  if (image == nullptr || width <= 0 || width > kMaxSensorWidth) return 0.0;
  if (height < 2) return 0.0;
  const SmearSums sums =
      simd::avx2() ? smear_sums_avx2(image, width, height) : smear_sums_plain(image, width, height);
  if (sums.sxx == 0.0) return 0.0;
  return sums.sxy / sums.sxx;
}

void CorrectSmear(uint16_t* image, int32_t width, int32_t height) {
  const int64_t n = smear_divisor(image, width, height);
  if (n == 0) return;
  const size_t W = static_cast<size_t>(width);
  const int32_t columns = (width + 1) / 2;
  if (height <= kMaxDoubleRows) {
    // The columns are independent: bands of columns over the pool.
    const auto remove = simd::avx2() ? remove_smear_avx2 : remove_smear_plain;
    const double reciprocal = 1.0 / static_cast<double>(n);
    bands::for_bands(columns, 16, 64, [&](int32_t first, int32_t end) {
      remove(image, width, height, first, end, reciprocal);
    });
    return;
  }
  int64_t acc[kAccumulators];
  for (int32_t j = 0; j < columns; ++j) acc[j] = (image[2 * j] - kBlackLevel) * 16;
  for (int32_t y = 1; y < height; ++y) {
    uint16_t* row = image + static_cast<size_t>(y) * W;
    for (int32_t j = 0; j < columns; ++j) {
      const int64_t v = (row[2 * j] - kBlackLevel) * 16 - acc[j] / n;
      acc[j] += v;
      row[2 * j] = static_cast<uint16_t>(std::clamp<int64_t>(v + 520, 0, 65520) >> 4);
    }
  }
}

}  // namespace ucap
