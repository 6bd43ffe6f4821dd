#include <algorithm>

#include "acquisition/frame_stages.h"

namespace ucap {

namespace {
// One accumulator per even column of the widest sensor row.
constexpr int32_t kAccumulators = kMaxSensorWidth / 2;
}  // namespace

double EstimateSmear(const uint16_t* image, int32_t width, int32_t height) {
  if (image == nullptr || width <= 0 || width > kMaxSensorWidth) return 0.0;
  if (height < 2) return 0.0;
  const size_t W = static_cast<size_t>(width);
  int64_t acc[kAccumulators];
  const int32_t columns = (width + 1) / 2;
  for (int32_t j = 0; j < columns; ++j) acc[j] = image[2 * j] - kBlackLevel;
  // With an odd width the last even column is compared with the word after its row above,
  // the first word of its own row: still inside the image.
  double sxx = 0.0, sxy = 0.0;
  for (int32_t y = 1; y < height; ++y) {
    const uint16_t* row = image + static_cast<size_t>(y) * W;
    if (y % 2 == 1) {
      const uint16_t* above = row - W;
      for (int32_t j = 0; j < columns; ++j) {
        const double a = static_cast<double>(acc[j]);
        sxx += a * a;
        sxy += static_cast<double>(row[2 * j] - above[2 * j + 1]) * a;
        acc[j] += row[2 * j] - kBlackLevel;
      }
    } else {
      for (int32_t j = 0; j < columns; ++j) acc[j] += row[2 * j] - kBlackLevel;
    }
  }
  if (sxx == 0.0) return 0.0;
  return sxy / sxx;
}

void CorrectSmear(uint16_t* image, int32_t width, int32_t height) {
  const double estimate = EstimateSmear(image, width, height);
  double k = estimate;
  if (k == 0.0 || (k > 0.0 && k < 1e-8) || (k < 0.0 && k > -1e-8)) return;
  k = std::clamp(k, -1e-4, 1e-4);
  const int64_t n = static_cast<int64_t>(1.0 / k);
  const size_t W = static_cast<size_t>(width);
  const int32_t columns = (width + 1) / 2;
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
