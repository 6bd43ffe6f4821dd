#include "calibration/color_tables.h"

#include <algorithm>
#include <cmath>

#include "core/errors.h"
#include "core/record.h"
#include "core/types.h"

namespace ucap {

namespace {

// Default white balance: the relative response of red, green and blue to white light.
constexpr double kDefaultWhite[3] = {1.37, 1.93, 1.0};

uint16_t clamp_entry(double v) {
  if (v <= 0.0) return 0;
  if (v >= kTermMax) return static_cast<uint16_t>(kTermMax);
  return static_cast<uint16_t>(v);
}

}  // namespace

double to_single(double v) {
  // Through a volatile float: GCC 12's vectoriser drops a pair of adjacent
  // double -> float -> double conversions, which must round.
  volatile float single = static_cast<float>(v);
  return single;
}

void build_color_matrix(const double saturation[3], double matrix[9]) {
  for (int r = 0; r < 3; ++r) {
    const double s = saturation[r];
    for (int c = 0; c < 3; ++c) {
      const double identity = r == c ? 1.0 : 0.0;
      matrix[r * 3 + c] = (1.0 - s) * identity + s * kDefaultColorMatrix[r * 3 + c];
    }
  }
}

void build_term_tables(const double matrix[9], ColorTables& t) {
  for (int k = 0; k < 9; ++k) {
    const double m = matrix[k];
    // Limit: (m + 1) * 4096 toward zero, never below 0. For m >= 0 it never binds; for
    // a negative m it keeps the last entries (and, below -1, every entry) from falling
    // under L + 1.
    double limit = std::trunc((m + 1.0) * 4096.0);
    if (limit < 0.0) limit = 0.0;
    uint16_t* table = t.term[k];
    for (int x = 0; x < kTableSize; ++x) {
      const double v = std::trunc(static_cast<double>(x) * m + 4095.0 + 1.0);
      const double entry = m >= 0.0 ? std::min(v, limit) : std::max(v, limit + 1.0);
      table[x] = clamp_entry(entry);
    }
  }
}

int32_t build_gain_tables(const double white[3], ColorTables& t) {
  if (white[0] == 0.0 || white[1] == 0.0 || white[2] == 0.0) return err::kWhiteBalance;
  double q[3];
  for (int c = 0; c < 3; ++c) q[c] = 1.0 / white[c];
  const double qmin = std::min({q[0], q[1], q[2]});
  double gain[3];
  for (int c = 0; c < 3; ++c) {
    gain[c] = q[c] / qmin;
    // Values such as infinities or not-a-number give no usable gain; refuse them like
    // a zero rather than fill the tables with undefined conversions.
    if (!std::isfinite(gain[c])) return err::kWhiteBalance;
  }
  for (int c = 0; c < 3; ++c) {
    uint16_t* table = t.gain[c];
    for (int i = 0; i < kTableSize; ++i) {
      double v = static_cast<double>(i - kBlackLevel) * gain[c] + 0.5 + 32.0;
      if (v > kMaxSample) {
        v = kMaxSample;
      } else if (v < 0.0) {
        v = 0.0;
      }
      table[i] = static_cast<uint16_t>(v);
    }
  }
  return err::kOk;
}

void fill_output_table(ColorTables& t) {
  constexpr int kZeroEnd = 3 * 4096;         // sums below this give 0
  constexpr int kRampEnd = kZeroEnd + 4096;  // then one step per count up to 4095
  for (int i = 0; i < kOutputTableSpan; ++i) {
    if (i < kZeroEnd) {
      t.output[i] = 0;
    } else if (i < kRampEnd) {
      t.output[i] = static_cast<uint16_t>(i - kZeroEnd);
    } else {
      t.output[i] = static_cast<uint16_t>(kMaxSample);
    }
  }
}

namespace {

double determinant(const double m[9]) {
  return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
         m[2] * (m[3] * m[7] - m[4] * m[6]);
}

}  // namespace

bool SolveColorMatrix(const double matrix[9], const double y[3], double x[3]) {
  const double det = determinant(matrix);
  if (det == 0.0 || !std::isfinite(det)) return false;
  double solution[3];
  for (int j = 0; j < 3; ++j) {
    double replaced[9];
    std::copy(matrix, matrix + 9, replaced);
    for (int r = 0; r < 3; ++r) replaced[r * 3 + j] = y[r];
    solution[j] = determinant(replaced) / det;
  }
  std::copy(solution, solution + 3, x);
  return true;
}

void CalculateColorMatrix(CameraRecord& cam) {
  build_color_matrix(cam.saturation, cam.color_matrix);
}

void CalculateMatrixTables(CameraRecord& cam) { build_term_tables(cam.color_matrix, cam.tables); }

int32_t set_white(CameraRecord& cam, const double rgb[3]) {
  const double white[3] = {rgb[0], rgb[1], rgb[2]};
  const int32_t rc = build_gain_tables(white, cam.tables);
  if (rc != err::kOk) return rc;
  CalculateMatrixTables(cam);
  return err::kOk;
}

void init_color_defaults(CameraRecord& cam) {
  for (double& s : cam.saturation) s = 1.0;
  std::copy(kDefaultWhite, kDefaultWhite + 3, cam.white_balance);
  CalculateColorMatrix(cam);
  set_white(cam, cam.white_balance);
  fill_output_table(cam.tables);
}

int32_t set_color_processing(CameraRecord& cam, int32_t on) {
  cam.color_processing.store(on);
  return err::kOk;
}

int32_t set_white_balance(CameraRecord& cam, double red, double green, double blue) {
  return change_settings(cam, [&]() -> int32_t {
    const double rounded[3] = {to_single(red), to_single(green), to_single(blue)};
    const int32_t rc = set_white(cam, rounded);
    if (rc != err::kOk) return rc;
    cam.white_balance[0] = red;
    cam.white_balance[1] = green;
    cam.white_balance[2] = blue;
    return err::kOk;
  });
}

int32_t set_image_white_balance(CameraRecord& cam, double red, double green, double blue) {
  return change_settings(cam, [&]() -> int32_t {
    const double measured[3] = {to_single(red), to_single(green), to_single(blue)};
    for (double y : measured) {
      if (!(y > 0.0)) return err::kWhiteBalance;
    }
    double x[3] = {measured[0], measured[1], measured[2]};
    // With the matrix on, the measured colors went through it: map them back first.
    // A singular matrix has no such inverse; the request is refused and nothing changes.
    if (cam.color_processing.load() != 0 && !SolveColorMatrix(cam.color_matrix, measured, x)) {
      return err::kWhiteBalance;
    }
    double white[3];
    for (int c = 0; c < 3; ++c) white[c] = x[c] * to_single(cam.white_balance[c]);
    const int32_t rc = set_white(cam, white);
    if (rc != err::kOk) return rc;
    std::copy(white, white + 3, cam.white_balance);
    return err::kOk;
  });
}

int32_t rebuild_white_tables(CameraRecord& cam, const double rgb[3]) {
  return change_settings(cam, [&]() -> int32_t { return set_white(cam, rgb); });
}

int32_t set_color_saturation(CameraRecord& cam, double red, double green, double blue) {
  // The tables it rebuilds are read by the stages: not while an acquisition holds them.
  return change_settings(cam, [&]() -> int32_t {
    const double saturation[3] = {red, green, blue};
    double matrix[9];
    build_color_matrix(saturation, matrix);
    // Saturations so large (or not numbers) that a coefficient is no finite number would
    // leave the term tables undefined: refused, nothing changes.
    for (double m : matrix) {
      if (!std::isfinite(m)) return err::kArgument;
    }
    std::copy(saturation, saturation + 3, cam.saturation);
    std::copy(matrix, matrix + 9, cam.color_matrix);
    return set_white(cam, cam.white_balance);
  });
}

}  // namespace ucap
