// The sensor behind the virtual camera's frames: a color mosaic CCD looking at a scene,
// with bias, offset patterns, dark current and hot pixels, gain variation and vignetting,
// vertical smear, defective pixels, clipping and (optionally) shot and read noise.
//
// Tests reach the model directly through expected_frame(), which gives the noise-free
// samples the camera sends for a readout, and encode_frame(), which lays samples out
// as the camera puts them on the bus (fields, packing).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vcam {

// kBar: darkness with a white bar across the whole width from 1/8 to 3/8 of the height,
// its edges on even rows (whole mosaic cells).
enum class Scene { kChart, kFlat, kDark, kGradient, kBar };

struct SensorParams {
  Scene scene = Scene::kChart;
  double blur = 0.0;      // defocus: Gaussian blur of the scene, standard deviation in pixels
  double level = 1500.0;  // signal of a white pixel of the strongest color, counts per 100 ms
  // Relative response of the red, green and blue sites to white light (the color filters
  // and the silicon together); the strongest color gets `level`, the others their share.
  std::array<double, 3> response = {1.37, 1.93, 1.0};
  bool noise = true;    // shot and read noise
  uint64_t seed = 1;    // fixed patterns and noise
  double dark = 10.0;   // dark current in counts per second
  double hot = 0.0005;  // share of hot pixels (dark current 50 to 200 times higher)
  // Vertical smear: each pixel of an even column (red and green sites) gains this share of
  // the light of the pixels above it in its column; the odd columns (green and blue sites)
  // do not smear. So the two greens of a mosaic cell differ by the smear of the even one,
  // which is the difference the library's smear stage measures and then removes from the
  // even columns.
  double smear = 2e-5;
  double vignette = 0.15;   // relative loss of signal in the corners
  double prnu = 0.01;       // per-pixel gain variation (standard deviation)
  int bias = 32;            // black level
  int column_pattern = 3;   // amplitude of the column offsets (counts)
  int row_pattern = 1;      // amplitude of the row offsets (counts)
  double read_noise = 1.5;  // counts (standard deviation), only with noise
  bool color_rows = false;  // mode 0 with binning: each row sums rows of one color only
};

// One readout: camera mode (0: rows of summed same-color row pairs; otherwise two
// fields of rows of b same-color rows), binning, rectangle in sensor pixels, exposure.
struct FrameGeometry {
  int mode = 2;
  int binning = 1;
  int left = 0, top = 0, width = 0, height = 0;
  uint32_t ticks = 400;  // exposure in 250 us ticks
};

// Rows the camera transfers for a geometry (mode 0: height / 2b; else height / b).
int transferred_rows(const FrameGeometry& g);

// Sensor rows summed into transferred row `row` (in image order, fields interleaved);
// rows beyond the sensor are left out. Mode 0 sums 2b rows per transferred row: by
// default in the pairs the raw frame stages' reference correction assumes (one color
// per row with binning 1, both colors mixed with binning 3 and 5), with `color_rows`
// 2b rows of one color. Other modes sum b rows of one color.
std::vector<int> covered_rows(const FrameGeometry& g, int row, int sensor_h,
                              bool color_rows = false);

// Noise-free samples of a readout: transferred_rows(g) rows of g.width samples, row by row
// in image order (fields interleaved, unpacked). `defects` are positions y * sensor_w + x.
std::vector<uint16_t> expected_frame(const SensorParams& p, int sensor_w, int sensor_h,
                                     const std::vector<uint32_t>& defects, const FrameGeometry& g);
// The same with noise drawn for exposure number `exposure` (noise off: expected_frame).
std::vector<uint16_t> render_frame(const SensorParams& p, int sensor_w, int sensor_h,
                                   const std::vector<uint32_t>& defects, const FrameGeometry& g,
                                   uint64_t exposure);

// Noise-free samples of a readout of attached camera `id` with its own scene, patterns and
// EEPROM defects. False for an unknown camera or a geometry outside its sensor.
bool expected_frame(int id, const FrameGeometry& g, std::vector<uint16_t>* samples);

// Bus layout of a frame of `rows` rows of `width` samples into `frame_bytes` bytes (the rest
// zero): 16-bit little-endian samples, or two 12-bit samples in three bytes when packed; in
// every mode but 0 the even rows first, then the odd rows, the odd field starting at
// frame_bytes / 2 when packed. Writes nothing beyond frame_bytes.
void encode_frame(const uint16_t* samples, int width, int rows, int mode, bool packed, uint8_t* out,
                  size_t frame_bytes);
// Bytes the samples take on the bus before padding (both fields, when packed each field
// rounded up to whole three-byte groups).
size_t payload_bytes(int width, int rows, int mode, bool packed);

}  // namespace vcam
