// Raw frame stages: expansion of packed samples, field interleaving, black and white
// reference correction, defect-pixel replacement and the row doubling of the
// full-resolution mode. Each stage works on 16-bit words holding 12-bit samples and takes
// the geometry, references and switches its caller names.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types.h"

namespace ucap {

// The per-pixel references of one camera; both arrays have the row stride sensor_width.
struct ReferenceView {
  // (sensor_height + 2) rows of signed dark values; row sensor_height holds the column
  // offsets.
  const uint16_t* black_store = nullptr;
  // sensor_height rows of signed gains, 4096 = 1.0.
  const uint16_t* white_table = nullptr;
  int32_t sensor_width = 0;
  int32_t sensor_height = 0;
};

// A corrected value clamped to the 12-bit range.
inline int32_t clamp_sample(int64_t v) {
  return v < 0 ? 0 : v > kMaxSample ? kMaxSample : static_cast<int32_t>(v);
}

// The largest dark value the references count for an exposure of `ticks`: 4095 up to
// 65,536 ticks, falling beyond (4095 * 65536 / ticks).
int32_t dark_signal_limit(int32_t ticks);

// Largest number of sensor rows one image row can cover (row pairs, binning 5).
inline constexpr int32_t kMaxCoveredRows = 10;

// The sensor rows whose charge image row `i` holds, for m sensor rows per image row
// (m = binning, or 2 * binning with row pairs). Writes m rows to `rows`, returns m.
int32_t covered_rows(int32_t top, int32_t i, int32_t m, bool row_pair,
                     int32_t (&rows)[kMaxCoveredRows]);

// A reference row for sensor row y: y itself inside the sensor, else the nearest row of
// the same mosaic color (same parity) inside it.
inline int32_t same_color_row(int32_t y, int32_t sensor_height) {
  if (y >= sensor_height) y -= 2 * ((y - sensor_height) / 2 + 1);
  if (y < 0) y += 2 * ((1 - y) / 2);
  if (y >= sensor_height) y = sensor_height - 1;  // a sensor of a single row
  return y;
}

// The dark-signal and gain rows of the references for the sensor rows image row `i`
// covers, rows past the sensor replaced by same_color_row. Returns m.
int32_t covered_reference_rows(const ReferenceView& refs, int32_t top, int32_t i, int32_t m,
                               bool row_pair, const uint16_t* (&dark)[kMaxCoveredRows],
                               const uint16_t* (&gain)[kMaxCoveredRows]);

// Expands two 12-bit samples packed in three bytes into two words, in place. Mode 0: one
// packed frame; mode 2: two fields packed separately, the second starting at byte
// packed_bytes / 2. Nothing happens when the expanded frame would not fit frame_bytes.
void UnpackPixels12(uint8_t* frame, size_t frame_bytes, int32_t mode, int32_t width, int32_t height,
                    uint64_t packed_bytes);

// Puts a frame sent as two fields (even rows, then odd rows) back in row order.
void InterleaveFields(uint16_t* dst, const uint16_t* src, int32_t width, int32_t height);

// Subtracts the scaled dark signal and the column offset and/or applies the white gains.
void ApplyReferences(const ReferenceView& refs, uint16_t* image, int32_t ticks, const Rect& rect,
                     int32_t binning, bool black, bool white, bool row_pair);

// Replaces the listed defective pixels (and, with a black reference, the pixels whose
// dark signal over this exposure exceeds 1000 counts) by their same-color neighbours.
void CorrectBlemishes(const uint32_t* list, int32_t count, const ReferenceView& refs,
                      bool black_present, uint16_t* image, const Rect& rect, int32_t binning,
                      int32_t ticks, bool row_pair);

// Full-resolution mode: the camera sends H rows of summed row pairs; `dst` receives 2H
// rows of `width` words, the missing rows the rounded mean of the same-color rows
// around them.
void double_rows(uint16_t* dst, const uint16_t* src, int32_t width, int32_t height);

}  // namespace ucap
