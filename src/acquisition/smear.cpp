#include <algorithm>
#include <cmath>

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
UCAP_AVX2_BUILD SmearSums smear_sums_avx2(const uint16_t* image, int32_t width,
                                          int32_t height) {
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
UCAP_KERNEL void remove_smear_kernel(uint16_t* image, int32_t width, int32_t height,
                                     int32_t first, int32_t end, double reciprocal) {
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

void remove_smear_plain(uint16_t* image, int32_t width, int32_t height, int32_t first,
                        int32_t end, double reciprocal) {
  remove_smear_kernel(image, width, height, first, end, reciprocal);
}
UCAP_AVX2_BUILD void remove_smear_avx2(uint16_t* image, int32_t width, int32_t height,
                                       int32_t first, int32_t end, double reciprocal) {
  remove_smear_kernel(image, width, height, first, end, reciprocal);
}

}  // namespace

double EstimateSmear(const uint16_t* image, int32_t width, int32_t height) {
  if (image == nullptr || width <= 0 || width > kMaxSensorWidth) return 0.0;
  if (height < 2) return 0.0;
  const SmearSums sums = simd::avx2() ? smear_sums_avx2(image, width, height)
                                      : smear_sums_plain(image, width, height);
  if (sums.sxx == 0.0) return 0.0;
  return sums.sxy / sums.sxx;
}

void CorrectSmear(uint16_t* image, int32_t width, int32_t height) {
  const double estimate = EstimateSmear(image, width, height);
  double k = estimate;
  if (k == 0.0 || (k > 0.0 && k < 1e-8) || (k < 0.0 && k > -1e-8)) return;
  k = std::clamp(k, -1e-4, 1e-4);
  const int64_t n = static_cast<int64_t>(1.0 / k);
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
