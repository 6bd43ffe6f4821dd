// Color tables: channel gain tables, color matrix from saturation, matrix term tables,
// output table, and the white-balance setters on a camera record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "calibration/color_tables.h"
#include "core/record.h"

namespace {

using ucap::ColorTables;

std::unique_ptr<ucap::CameraRecord> default_camera() {
  auto cam = std::make_unique<ucap::CameraRecord>();
  ucap::init_color_defaults(*cam);
  return cam;
}

std::vector<uint16_t> gains_of(const ColorTables& t) {
  return std::vector<uint16_t>(&t.gain[0][0], &t.gain[0][0] + 3 * ucap::kTableSize);
}
std::vector<uint16_t> terms_of(const ColorTables& t) {
  return std::vector<uint16_t>(&t.term[0][0], &t.term[0][0] + 9 * ucap::kTableSize);
}

// ---- defaults -----------------------------------------------------------------------

TEST(ColorDefaults, GainTablesFollowTheDefaultWhiteBalance) {
  auto cam = default_camera();
  const ColorTables& t = cam->tables;
  // Green has the greatest response: gain 1, the identity.
  for (int i = 0; i < ucap::kTableSize; ++i) ASSERT_EQ(t.gain[ucap::kGreen][i], i) << i;
  // Red gain 1.93 / 1.37, applied around the black level with rounding.
  EXPECT_EQ(t.gain[ucap::kRed][0], 0);
  EXPECT_EQ(t.gain[ucap::kRed][32], 32);
  EXPECT_EQ(t.gain[ucap::kRed][33], 33);
  EXPECT_EQ(t.gain[ucap::kRed][1000], 1396);  // 968 * 1.4088 + 32.5 = 1396.18
  EXPECT_EQ(t.gain[ucap::kRed][4095], 4095);
  // Blue gain 1.93.
  EXPECT_EQ(t.gain[ucap::kBlue][32], 32);
  EXPECT_EQ(t.gain[ucap::kBlue][33], 34);
  EXPECT_EQ(t.gain[ucap::kBlue][2000], 3830);  // 1968 * 1.93 + 32.5 = 3830.74
  EXPECT_EQ(t.gain[ucap::kBlue][2136], 4093);
  EXPECT_EQ(t.gain[ucap::kBlue][2137], 4095);  // clamped
  // Gains above 1 push samples below the black level to 0.
  EXPECT_EQ(t.gain[ucap::kBlue][15], 0);   // -17 * 1.93 + 32.5 = -0.31
  EXPECT_EQ(t.gain[ucap::kBlue][16], 1);   // -16 * 1.93 + 32.5 = 1.62
}

TEST(ColorDefaults, OutputTableClampsTheSumOfTerms) {
  ColorTables t{};
  ucap::fill_output_table(t);
  EXPECT_EQ(t.output[0], 0);
  EXPECT_EQ(t.output[12287], 0);
  EXPECT_EQ(t.output[12288], 0);
  EXPECT_EQ(t.output[12289], 1);
  EXPECT_EQ(t.output[16383], 4095);
  EXPECT_EQ(t.output[16384], 4095);
  EXPECT_EQ(t.output[ucap::kOutputTableSize - 1], 4095);
  EXPECT_EQ(t.output[ucap::kOutputTableSpan - 1], 4095);
  for (int i = 12288; i < 16384; ++i) ASSERT_EQ(t.output[i], i - 12288);
}

// ---- term tables ----------------------------------------------------------------------

TEST(ColorTermTables, WorkedCoefficients) {
  const double matrix[9] = {1.0, -1.5, -0.5, -0.188, 0.0, 2.5, -1.0, 0.25, 1.594};
  ColorTables t{};
  ucap::build_term_tables(matrix, t);
  EXPECT_EQ(t.term[0][0], 4096);
  EXPECT_EQ(t.term[0][4095], 8191);
  // -1.5: entries fall with x and stay at 1 from x = 2730 on.
  EXPECT_EQ(t.term[1][0], 4096);
  EXPECT_EQ(t.term[1][2729], 2);
  for (int x = 2730; x < ucap::kTableSize; ++x) ASSERT_EQ(t.term[1][x], 1) << x;
  for (int x = 1; x < 2730; ++x) ASSERT_LT(t.term[1][x], t.term[1][x - 1]) << x;
  // -0.5: the limit raises the last entry to 2049.
  EXPECT_EQ(t.term[2][4094], 2049);
  EXPECT_EQ(t.term[2][4095], 2049);
  EXPECT_EQ(t.term[3][4095], 3326);
  for (int x = 0; x < ucap::kTableSize; ++x) ASSERT_EQ(t.term[4][x], 4096) << x;
  EXPECT_EQ(t.term[5][4095], 14333);  // 4095 * 2.5 + 4096 = 14333.5
  // -1.0: limit 0, so entries never fall below 1.
  EXPECT_EQ(t.term[6][4095], 1);
  EXPECT_EQ(t.term[6][4094], 2);
  EXPECT_EQ(t.term[7][3], 4096);
  EXPECT_EQ(t.term[7][4], 4097);
  EXPECT_EQ(t.term[8][4095], 10623);
}

TEST(ColorTermTables, SaturationBlendsIdentityAndDefaultPerRow) {
  auto cam = default_camera();
  ASSERT_EQ(ucap::set_color_saturation(*cam, 0.0, 1.0, 2.0), 0);
  EXPECT_EQ(cam->saturation[2], 2.0);
  for (int c = 0; c < 3; ++c) {
    EXPECT_EQ(cam->color_matrix[c], c == 0 ? 1.0 : 0.0);
    EXPECT_EQ(cam->color_matrix[3 + c], ucap::kDefaultColorMatrix[3 + c]);
    const double id = c == 2 ? 1.0 : 0.0;
    EXPECT_DOUBLE_EQ(cam->color_matrix[6 + c], -id + 2.0 * ucap::kDefaultColorMatrix[6 + c]);
  }
  // Rebuilt from the default every time, never from the previous matrix.
  ASSERT_EQ(ucap::set_color_saturation(*cam, 1.0, 1.0, 1.0), 0);
  for (int k = 0; k < 9; ++k) EXPECT_EQ(cam->color_matrix[k], ucap::kDefaultColorMatrix[k]);
}

TEST(ColorTermTables, SaturationWithNoFiniteCoefficientIsRefused) {
  auto cam = default_camera();
  ASSERT_EQ(ucap::set_color_saturation(*cam, 2.0, 1.0, 1.0), 0);
  const auto terms = terms_of(cam->tables);
  const double matrix0 = cam->color_matrix[0];
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(ucap::set_color_saturation(*cam, nan, 1.0, 1.0), 8);
  EXPECT_EQ(ucap::set_color_saturation(*cam, 1.0, inf, 1.0), 8);
  EXPECT_EQ(ucap::set_color_saturation(*cam, 1.0, 1.0, 1.5e308), 8);
  EXPECT_EQ(cam->saturation[0], 2.0);
  EXPECT_EQ(cam->color_matrix[0], matrix0);
  EXPECT_EQ(terms_of(cam->tables), terms);
}

// ---- gain tables and white balance -----------------------------------------------------

TEST(ColorWhiteBalance, StoresTheCallersDoublesAndBuildsFromSinglePrecision) {
  auto cam = default_camera();
  ASSERT_EQ(ucap::set_white_balance(*cam, 1.1, 1.2, 1.3), 0);
  EXPECT_EQ(cam->white_balance[0], 1.1);
  EXPECT_EQ(cam->white_balance[1], 1.2);
  EXPECT_EQ(cam->white_balance[2], 1.3);
  // The rebuild itself takes values as they are: 1e-50 is no zero there.
  const double tiny[3] = {1e-50, 1.0, 1.0};
  EXPECT_EQ(ucap::set_white(*cam, tiny), 0);
  EXPECT_EQ(cam->white_balance[0], 1.1);  // the rebuild stores nothing
  // Red responds 1e50 times less than the others: its gain clips everything but the
  // black level itself.
  EXPECT_EQ(cam->tables.gain[ucap::kGreen][100], 100);
  EXPECT_EQ(cam->tables.gain[ucap::kRed][33], 4095);
  EXPECT_EQ(cam->tables.gain[ucap::kRed][31], 0);
  EXPECT_EQ(cam->tables.gain[ucap::kRed][32], 32);
}

TEST(ColorWhiteBalance, ValuesWithNoFiniteGainAreRefused) {
  auto cam = default_camera();
  const auto gains = gains_of(cam->tables);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double bad[][3] = {{nan, 1.0, 1.0}, {1.0, inf, 1.0}, {1e-320, 1.0, 1e-320}};
  for (const auto& rgb : bad) EXPECT_EQ(ucap::set_white(*cam, rgb), 5);
  EXPECT_EQ(ucap::set_white_balance(*cam, 1e300, 1.0, 1.0), 5);  // infinite in single precision
  EXPECT_EQ(gains_of(cam->tables), gains);
}

// ---- image white balance -------------------------------------------------------------------

TEST(ColorImageWhiteBalance, MeasurementsMultiplyTheResponse) {
  auto cam = default_camera();
  ASSERT_EQ(ucap::set_image_white_balance(*cam, 2.0, 0.5, 1.5), 0);
  EXPECT_EQ(cam->white_balance[0], 2.0 * static_cast<double>(1.37f));
  EXPECT_EQ(cam->white_balance[1], 0.5 * static_cast<double>(1.93f));
  EXPECT_EQ(cam->white_balance[2], 1.5);
  // Red now has the greatest response: its gain is 1.
  for (int i = 0; i < ucap::kTableSize; ++i) ASSERT_EQ(cam->tables.gain[ucap::kRed][i], i);
}

TEST(ColorImageWhiteBalance, WithColorProcessingTheMatrixIsInvertedFirst) {
  auto cam = default_camera();
  cam->color_processing = 1;
  const double y[3] = {static_cast<double>(0.9f), static_cast<double>(1.1f), 1.25};
  ASSERT_EQ(ucap::set_image_white_balance(*cam, 0.9, 1.1, 1.25), 0);
  // w' = x * w with matrix * x = y.
  const double before[3] = {1.37, 1.93, 1.0};
  double x[3];
  for (int c = 0; c < 3; ++c) x[c] = cam->white_balance[c] / ucap::to_single(before[c]);
  for (int r = 0; r < 3; ++r) {
    double sum = 0.0;
    for (int c = 0; c < 3; ++c) sum += cam->color_matrix[r * 3 + c] * x[c];
    EXPECT_NEAR(sum, y[r], 1e-12) << r;
  }
}

TEST(ColorImageWhiteBalance, SingularMatrixIsRefusedAndChangesNothing) {
  auto cam = default_camera();
  cam->color_processing = 1;
  const double singular[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
  std::copy(singular, singular + 9, cam->color_matrix);
  const auto gains = gains_of(cam->tables);
  const auto terms = terms_of(cam->tables);
  EXPECT_EQ(ucap::set_image_white_balance(*cam, 1.0, 1.0, 1.0), 5);
  EXPECT_EQ(cam->white_balance[0], 1.37);
  EXPECT_EQ(gains_of(cam->tables), gains);
  EXPECT_EQ(terms_of(cam->tables), terms);
  // Off, the matrix plays no part.
  cam->color_processing = 0;
  EXPECT_EQ(ucap::set_image_white_balance(*cam, 1.0, 1.0, 1.0), 0);
}

TEST(ColorSolve, CramersRule) {
  const double diagonal[9] = {2, 0, 0, 0, 4, 0, 0, 0, 8};
  const double y[3] = {2, 4, 8};
  double x[3] = {};
  ASSERT_TRUE(ucap::SolveColorMatrix(diagonal, y, x));
  EXPECT_EQ(x[0], 1.0);
  EXPECT_EQ(x[1], 1.0);
  EXPECT_EQ(x[2], 1.0);
  // A permutation with a sign: det = -1.
  const double swap[9] = {0, 1, 0, 1, 0, 0, 0, 0, -1};
  const double y2[3] = {3, 5, 7};
  ASSERT_TRUE(ucap::SolveColorMatrix(swap, y2, x));
  EXPECT_EQ(x[0], 5.0);
  EXPECT_EQ(x[1], 3.0);
  EXPECT_EQ(x[2], -7.0);
  const double zero[9] = {};
  double untouched[3] = {9, 9, 9};
  EXPECT_FALSE(ucap::SolveColorMatrix(zero, y, untouched));
  EXPECT_EQ(untouched[0], 9.0);
}

}  // namespace
