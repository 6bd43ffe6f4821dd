// Color interpolation: from the raw color mosaic (red at even columns of even rows,
// blue at odd columns of odd rows, green elsewhere) to color images of three words per
// pixel in the order blue, green, red.
//
// Sizes the interpolators cannot work with (below their minimum or odd) leave the output
// as it was. Samples above 12 bits are clamped to 4095 before they index a table.
#pragma once

#include <algorithm>
#include <cstdint>

#include "core/color_table_types.h"
#include "core/stage_services.h"
#include "core/types.h"

namespace ucap {

// A table's entry for a raw sample, samples above 12 bits taken as 4095.
inline uint16_t table_lookup(const uint16_t* table, uint32_t sample) {
  return table[std::min<uint32_t>(sample, kMaxSample)];
}

// Whether the standard interpolator (even width >= 4, even height >= 2) and the
// high-quality interpolator (even width and height >= 6) take a size.
bool standard_interpolation_fits(int32_t width, int32_t height);
bool high_quality_interpolation_fits(int32_t width, int32_t height);

// Word 1 of every output pixel := the channel gain table of the pixel's mosaic color at
// its raw sample.
void map_mosaic(const ColorTables& tables, uint16_t* out, const uint16_t* raw, int32_t width,
                int32_t height);

// Unbinned frames: map, then the standard interpolator (quality 1) or the high-quality
// interpolator (quality 2 and above; the standard one for frames too small for it).
void InterpolateColor(const ColorTables& tables, uint16_t* out, const uint16_t* raw,
                      const Rect& rect, int32_t quality, const StageServices& services);

// Horizontal binning of `rows` rows of `width` samples by `binning`, keeping the mosaic:
// `dst` receives 2 * ((width / binning) / 2) columns per row.
void bin_columns(uint16_t* dst, const uint16_t* src, int32_t width, int32_t rows, int32_t binning);

// Binned frames: reduce horizontally into a work area, map, standard interpolator. The
// output has 2 * ((W / b) / 2) columns and 2 * (H / 2) rows. Without a work area the
// output stays as it was and nothing is reported.
void InterpolateBinned(const ColorTables& tables, uint16_t* out, const uint16_t* raw,
                       const Rect& rect, int32_t binning, const StageServices& services);

// Color ratios on the cells, green at full resolution, in place in `image` whose word 1
// holds the mapped mosaic.
void InterpolateStandard(int32_t width, int32_t height, uint16_t* image);
// map_mosaic of `raw` into `image` followed by InterpolateStandard, in one pass that reads
// the raw samples through the tables as it goes (the same image), in row bands on the pool.
void interpolate_standard_mosaic(const ColorTables& tables, uint16_t* image, const uint16_t* raw,
                                 int32_t width, int32_t height);

// Each pixel takes its colors from the 2 x 2 block whose top-left corner it is; maps the
// samples itself.
void InterpolateBlocks(const ColorTables& tables, uint16_t* out, const uint16_t* raw,
                       const Rect& rect);

// Edge-directed green, robust line fits of red and blue against green, half-pixel
// resampling; in place in `image` whose word 1 holds the mapped mosaic.
void InterpolateHighQuality(int32_t quality, int32_t width, int32_t height, uint16_t* image,
                            const StageServices& services);
// Green at the red and blue sites, and the ratio-scaled regression pairs.
void InterpolateGreenHQ(int32_t width, int32_t height, uint16_t* image);

struct LineFit {
  double slope;
  double intercept;
};
// Least-squares line through nine pairs and the anchors (4095, 4095) and (0, 0), refitted
// without the point of the largest residual.
LineFit FitLine(const uint16_t (&x)[9], const uint16_t (&y)[9]);

// Resamples color word `word` (0 blue, 1 green, 2 red) half a pixel up and to the left,
// through a temporary plane of its own; without one the plane stays as it was and the
// missing memory is reported.
void AssembleSingle(int32_t word, int32_t width, int32_t height, uint16_t* image,
                    const StageServices& services);

}  // namespace ucap
