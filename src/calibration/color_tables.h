// The color lookup tables of one camera: channel gain tables (white balance) applied
// to raw samples before interpolation, and the color-matrix term and output tables
// applied to finished color pixels. All floating-point work of color correction
// happens here, when a setting changes; the pixel stages only look values up.
#pragma once

#include <cstdint>

#include "core/color_table_types.h"

namespace ucap {

struct CameraRecord;

// The color matrix the camera's colors are corrected with at saturation 1, row-major.
inline constexpr double kDefaultColorMatrix[9] = {1.508,  -0.188, -0.32,   //
                                                  -0.176, 1.406,  -0.23,   //
                                                  0.093,  -0.687, 1.594};  //

// ---- pure table builders ------------------------------------------------------------

// Rounds a double to single precision and back.
double to_single(double v);

// Matrix row r = (1 - s_r) * identity row + s_r * default row, rebuilt from the default
// every time.
void build_color_matrix(const double saturation[3], double matrix[9]);

// Nine term tables from the nine coefficients. Coefficients must be finite.
void build_term_tables(const double matrix[9], ColorTables& t);

// Channel gain tables from three white-balance values: 5 (nothing changed) when a value
// is 0 or the gains are not finite numbers, else 0.
int32_t build_gain_tables(const double white[3], ColorTables& t);

// The fixed output table.
void fill_output_table(ColorTables& t);

// Solves matrix * x = y by Cramer's rule; false (x untouched) when the matrix is singular.
bool SolveColorMatrix(const double matrix[9], const double y[3], double x[3]);

// ---- on a camera record ---------------------------------------------------------------

// color_matrix from saturation.
void CalculateColorMatrix(CameraRecord& cam);
// Term tables from color_matrix.
void CalculateMatrixTables(CameraRecord& cam);
// Gain tables from rgb, then term tables from color_matrix: 5 on a zero value (nothing
// changed), else 0. Does not store rgb as the white balance.
int32_t set_white(CameraRecord& cam, const double rgb[3]);
// Start values of every color setting and table of a newly opened camera.
void init_color_defaults(CameraRecord& cam);

// The color-processing switch (the color matrix on finished color images), stored
// unchanged. 0.
int32_t set_color_processing(CameraRecord& cam, int32_t on);

// The setters behind the white-balance, saturation and table exports: 10 while an
// acquisition runs or holds the settings (core/record.h, Hold).
int32_t rebuild_white_tables(CameraRecord& cam, const double rgb[3]);
int32_t set_white_balance(CameraRecord& cam, double red, double green, double blue);
int32_t set_image_white_balance(CameraRecord& cam, double red, double green, double blue);
int32_t set_color_saturation(CameraRecord& cam, double red, double green, double blue);

}  // namespace ucap
