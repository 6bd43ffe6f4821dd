// Row bands of an in-place color image for the interpolators whose steps read rows above
// and below the one they write.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/stage_services.h"

namespace ucap {

// One band: the rows of a virtual image of `height` rows (its own rows of the image with
// copies of `halo` rows on either side, or the whole image), and a work area of its own.
struct ColorBand {
  uint16_t* const* rows;
  int32_t height;
  void* work;
};

// Splits the W x H color image (three words per pixel) into as many bands of whole cell
// rows as the row-band pool has threads (none shorter than `least_rows`), and calls
// run(context, band) for each, on the pool. The halo rows are copied before any band
// starts, so each band writes only its own rows and reads only those and its copies;
// `halo` must exceed the depth to which a band's false top and bottom edges change its
// results. Every band gets `work_bytes` of work area (16-byte aligned). Returns false,
// the image untouched, when no work area can be had.
bool run_color_bands(int32_t W, int32_t H, uint16_t* image, int32_t halo, int32_t least_rows,
                     size_t work_bytes, const StageServices& services,
                     void (*run)(void* context, const ColorBand& band), void* context);

template <typename Run>
bool for_color_bands(int32_t W, int32_t H, uint16_t* image, int32_t halo, int32_t least_rows,
                     size_t work_bytes, const StageServices& services, const Run& run) {
  return run_color_bands(
      W, H, image, halo, least_rows, work_bytes, services,
      [](void* context, const ColorBand& band) { (*static_cast<const Run*>(context))(band); },
      const_cast<Run*>(&run));
}

}  // namespace ucap
