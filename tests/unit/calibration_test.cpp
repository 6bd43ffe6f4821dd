// Color tables and white-balance setters on a camera record; the sensors the stores can hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include "calibration/color_tables.h"
#include "calibration/stores.h"
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
std::vector<double> white_of(const ucap::CameraRecord& cam) {
  return {cam.white_balance[0], cam.white_balance[1], cam.white_balance[2]};
}

TEST(ColorDefaults, GainTablesFollowTheDefaultWhiteBalance) {
  auto cam = default_camera();
  const ColorTables& t = cam->tables;
  // Green has the greatest response: gain 1, the identity.
  for (int i = 0; i < ucap::kTableSize; ++i) ASSERT_EQ(t.gain[ucap::kGreen][i], i) << i;
  // Red 1.93 / 1.37, blue 1.93 around the black level, rounded: 968 * 1.4088 + 32.5 = 1396.18.
  const int rows[][3] = {
      {ucap::kRed, 0, 0},        {ucap::kRed, 32, 32},      {ucap::kRed, 33, 33},
      {ucap::kRed, 1000, 1396},  {ucap::kRed, 4095, 4095},  {ucap::kBlue, 32, 32},
      {ucap::kBlue, 33, 34},     {ucap::kBlue, 2000, 3830}, {ucap::kBlue, 2136, 4093},
      {ucap::kBlue, 2137, 4095}, {ucap::kBlue, 15, 0},      {ucap::kBlue, 16, 1}};
  for (const auto& r : rows) EXPECT_EQ(t.gain[r[0]][r[1]], r[2]) << r[0] << " " << r[1];
}

TEST(ColorDefaults, OutputTableClampsTheSumOfTerms) {
  ColorTables t{};
  ucap::fill_output_table(t);
  for (int i = 0; i < ucap::kOutputTableSpan; ++i)
    ASSERT_EQ(t.output[i], std::clamp(i - 12288, 0, 4095)) << i;
}

TEST(ColorTermTables, WorkedCoefficients) {
  const double matrix[9] = {1.0, -1.5, -0.5, -0.188, 0.0, 2.5, -1.0, 0.25, 1.594};
  ColorTables t{};
  ucap::build_term_tables(matrix, t);
  // Rows: term, x, entry. 4095 * 2.5 + 4096 = 14333.5; -0.5: the limit raises the last
  // entry to 2049; -1.0: limit 0, so entries never fall below 1.
  const int rows[][3] = {{0, 0, 4096},    {0, 4095, 8191}, {1, 0, 4096},    {1, 2729, 2},
                         {2, 4094, 2049}, {2, 4095, 2049}, {3, 4095, 3326}, {5, 4095, 14333},
                         {6, 4095, 1},    {6, 4094, 2},    {7, 3, 4096},    {7, 4, 4097},
                         {8, 4095, 10623}};
  for (const auto& r : rows) EXPECT_EQ(t.term[r[0]][r[1]], r[2]) << r[0] << " " << r[1];
  // -1.5: entries fall with x and stay at 1 from x = 2730 on; 0: 4096 throughout.
  for (int x = 1; x < ucap::kTableSize; ++x) {
    ASSERT_EQ(t.term[1][x] < t.term[1][x - 1], x <= 2730) << x;
    ASSERT_EQ(t.term[1][x] == 1, x >= 2730) << x;
    ASSERT_EQ(t.term[4][x], 4096) << x;
  }
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

TEST(ColorWhiteBalance, StoresTheCallersDoublesAndBuildsFromSinglePrecision) {
  auto cam = default_camera();
  ASSERT_EQ(ucap::set_white_balance(*cam, 1.1, 1.2, 1.3), 0);
  EXPECT_EQ(white_of(*cam), (std::vector<double>{1.1, 1.2, 1.3}));
  // The rebuild takes 1e-50 as it is, stores nothing, and clips all red but the black level.
  const double tiny[3] = {1e-50, 1.0, 1.0};
  EXPECT_EQ(ucap::set_white(*cam, tiny), 0);
  EXPECT_EQ(cam->white_balance[0], 1.1);
  EXPECT_EQ(cam->tables.gain[ucap::kGreen][100], 100);
  EXPECT_EQ(cam->tables.gain[ucap::kRed][33], 4095);
  EXPECT_EQ(cam->tables.gain[ucap::kRed][31], 0);
  EXPECT_EQ(cam->tables.gain[ucap::kRed][32], 32);
}

// No finite gain or coefficient, or a singular matrix in use: refused, and nothing changes.
TEST(ColorSetters, RefusedValuesChangeNothing) {
  auto cam = default_camera();
  ASSERT_EQ(ucap::set_color_saturation(*cam, 2.0, 1.0, 1.0), 0);
  const auto gains = gains_of(cam->tables), terms = terms_of(cam->tables);
  const std::vector<double> matrix(cam->color_matrix, cam->color_matrix + 9);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double bad[][3] = {
      {nan, 1.0, 1.0}, {1.0, inf, 1.0}, {1e-320, 1.0, 1e-320}, {1.0, 1.0, 0.0}};
  for (const auto& rgb : bad) EXPECT_EQ(ucap::set_white(*cam, rgb), 5);
  EXPECT_EQ(ucap::set_white_balance(*cam, 1e300, 1.0, 1.0), 5);  // infinite in single precision
  EXPECT_EQ(ucap::set_white_balance(*cam, 1e-50, 1.0, 1.0), 5);  // zero in single precision
  EXPECT_EQ(ucap::set_white_balance(*cam, 1.0, 0.0, 1.0), 5);
  EXPECT_EQ(ucap::set_image_white_balance(*cam, 0.0, 1.0, 1.0), 5);
  EXPECT_EQ(ucap::set_color_saturation(*cam, nan, 1.0, 1.0), 8);
  EXPECT_EQ(ucap::set_color_saturation(*cam, 1.0, inf, 1.0), 8);
  EXPECT_EQ(ucap::set_color_saturation(*cam, 1.0, 1.0, 1.5e308), 8);
  EXPECT_EQ(cam->saturation[0], 2.0);
  EXPECT_EQ(std::vector<double>(cam->color_matrix, cam->color_matrix + 9), matrix);
  cam->color_processing = 1;
  const double singular[9] = {1, 2, 3, 2, 4, 6, 0, 1, 1};
  std::copy(singular, singular + 9, cam->color_matrix);
  EXPECT_EQ(ucap::set_image_white_balance(*cam, 1.0, 1.0, 1.0), 5);
  EXPECT_EQ(white_of(*cam), (std::vector<double>{1.37, 1.93, 1.0}));
  EXPECT_EQ(gains_of(cam->tables), gains);
  EXPECT_EQ(terms_of(cam->tables), terms);
  cam->color_processing = 0;  // off, the matrix plays no part
  EXPECT_EQ(ucap::set_image_white_balance(*cam, 1.0, 1.0, 1.0), 0);
}

TEST(ColorImageWhiteBalance, MeasurementsMultiplyTheResponse) {
  auto cam = default_camera();
  ASSERT_EQ(ucap::set_image_white_balance(*cam, 2.0, 0.5, 1.5), 0);
  EXPECT_EQ(white_of(*cam), (std::vector<double>{2.0 * static_cast<double>(1.37f),
                                                 0.5 * static_cast<double>(1.93f), 1.5}));
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

// Taller than wide, the row-offset row cannot hold H values.
TEST(Stores, HoldOnlySensorsNoWiderOrTallerThanTheRecordAndNoTallerThanWide) {
  const int32_t W = ucap::kMaxSensorWidth, H = ucap::kMaxSensorHeight;
  const int32_t sensors[][3] = {{40, 48, 0}, {48, 48, 1},   {2, 1, 1}, {1, 1, 1},
                                {4, 0, 0},   {W + 2, 2, 0}, {W, H, 1}, {W, H + 2, 0}};
  auto cam = std::make_unique<ucap::CameraRecord>();
  const std::vector<uint16_t> data(static_cast<size_t>(W) * (H + 2), 7);
  for (const auto& [w, h, fits] : sensors) {
    SCOPED_TRACE(testing::Message() << w << "x" << h);
    cam->sensor_width = w;
    cam->sensor_height = h;
    cam->black_ref_present = cam->white_ref_present = 0;
    const int32_t bytes = (h + 2) * w * 2;
    EXPECT_EQ(ucap::black_store_words(*cam), fits ? static_cast<size_t>(bytes / 2) : 0u);
    EXPECT_EQ(ucap::restore_black_ref(*cam, data.data(), bytes), fits ? 0 : 8);
    EXPECT_EQ(ucap::set_white_table(*cam, data.data()), fits ? 0 : 8);
    EXPECT_EQ(cam->black_ref_present + cam->white_ref_present, fits ? 2 : 0);
  }
}

}  // namespace
