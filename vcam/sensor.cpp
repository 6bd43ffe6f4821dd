// The sensor model behind the virtual camera's frames.
#include "vcam/sensor.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>

namespace vcam {
namespace {

uint64_t mix(uint64_t z) {
  z += 0x9E3779B97F4A7C15ull;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

uint64_t hash(uint64_t seed, uint64_t salt, uint64_t a, uint64_t b) {
  return mix(mix(mix(seed ^ salt * 0xD6E8FEB86659FD93ull) ^ a) ^ (b * 0x9E3779B97F4A7C15ull));
}

double unit(uint64_t h) { return static_cast<double>(h >> 11) * (1.0 / 9007199254740992.0); }

// Nearly normal number of mean 0 and variance 1 from one hash: the sum of its four 16-bit
// parts (Irwin-Hall), cut off beyond 3.46 standard deviations.
double normal(uint64_t h) {
  double sum =
      static_cast<double>((h & 0xFFFF) + (h >> 16 & 0xFFFF) + (h >> 32 & 0xFFFF) + (h >> 48));
  return (sum / 65535.0 - 2.0) * 1.7320508075688772;
}

enum Salt : uint64_t { kColumn = 1, kRow, kNoise };

// Linear red, green, blue reflectances of the 24 chart patches, row by row.
constexpr std::array<std::array<double, 3>, 24> kChart = {{
    {0.17, 0.10, 0.07}, {0.55, 0.35, 0.27}, {0.12, 0.19, 0.33}, {0.10, 0.15, 0.06},
    {0.24, 0.22, 0.43}, {0.13, 0.50, 0.40}, {0.68, 0.24, 0.03}, {0.07, 0.11, 0.39},
    {0.54, 0.10, 0.12}, {0.10, 0.04, 0.14}, {0.35, 0.50, 0.05}, {0.75, 0.38, 0.02},
    {0.02, 0.05, 0.29}, {0.07, 0.30, 0.07}, {0.44, 0.03, 0.04}, {0.85, 0.58, 0.01},
    {0.53, 0.09, 0.29}, {0.00, 0.24, 0.38}, {0.88, 0.88, 0.86}, {0.58, 0.59, 0.59},
    {0.36, 0.36, 0.36}, {0.19, 0.19, 0.19}, {0.09, 0.09, 0.09}, {0.03, 0.03, 0.03},
}};

// Color of the mosaic: red at even x of even y, blue at odd x of odd y, else green.
int color(int x, int y) {
  if ((x & 1) == 0 && (y & 1) == 0) return 0;
  if ((x & 1) == 1 && (y & 1) == 1) return 2;
  return 1;
}

// Reflectance of the scene at (x, y) in color c (the chart's patches differ per color).
double scene(const SensorParams& p, int w, int h, int x, int y, int c) {
  switch (p.scene) {
    case Scene::kFlat: return 1.0;
    case Scene::kDark: return 0.0;
    case Scene::kGradient: return static_cast<double>(x) / static_cast<double>(w - 1);
    case Scene::kBar: return y >= (h / 8 & ~1) && y < (3 * h / 8 & ~1) ? 1.0 : 0.0;
    case Scene::kChart: break;
  }
  // 6 x 4 patches inside a 5 % margin, a dark gap of a tenth of a patch between them.
  double fx = (static_cast<double>(x) / w - 0.05) / 0.9 * 6.0;
  double fy = (static_cast<double>(y) / h - 0.05) / 0.9 * 4.0;
  if (fx < 0 || fy < 0 || fx >= 6.0 || fy >= 4.0) return 0.05;
  int px = static_cast<int>(fx), py = static_cast<int>(fy);
  if (fx - px < 0.05 || fx - px > 0.95 || fy - py < 0.05 || fy - py > 0.95) return 0.05;
  return kChart[static_cast<size_t>(py * 6 + px)][static_cast<size_t>(c)];
}

// The scene through a defocused lens over columns [x0, x0 + cols) and rows [0, rows): each
// color's scene convolved with a Gaussian of standard deviation p.blur (the sensor's edge
// rows and columns repeated beyond it), taken at every pixel in that pixel's own color.
std::vector<float> blur_scene(const SensorParams& p, int w, int h, int x0, int cols, int rows) {
  const int r = static_cast<int>(std::ceil(3.0 * p.blur));
  std::vector<float> kernel(static_cast<size_t>(2 * r + 1));
  double sum = 0;
  for (int k = -r; k <= r; ++k)
    sum += kernel[static_cast<size_t>(k + r)] =
        static_cast<float>(std::exp(-0.5 * k * k / (p.blur * p.blur)));
  for (float& k : kernel) k = static_cast<float>(k / sum);
  const size_t wide = static_cast<size_t>(cols + 2 * r), tall = static_cast<size_t>(rows + 2 * r);
  std::vector<float> source(wide), across(tall * static_cast<size_t>(cols)),
      out(static_cast<size_t>(rows) * static_cast<size_t>(cols));
  for (int c = 0; c < 3; ++c) {
    for (size_t j = 0; j < tall; ++j) {
      const int y = std::clamp(static_cast<int>(j) - r, 0, h - 1);
      for (size_t i = 0; i < wide; ++i)
        source[i] = static_cast<float>(
            scene(p, w, h, std::clamp(x0 + static_cast<int>(i) - r, 0, w - 1), y, c));
      float* row = &across[j * static_cast<size_t>(cols)];
      for (int i = 0; i < cols; ++i) {
        float v = 0;
        for (size_t k = 0; k < kernel.size(); ++k)
          v += kernel[k] * source[static_cast<size_t>(i) + k];
        row[i] = v;
      }
    }
    for (int y = 0; y < rows; ++y)
      for (int i = 0; i < cols; ++i) {
        if (color(x0 + i, y) != c) continue;
        float v = 0;
        for (size_t k = 0; k < kernel.size(); ++k)
          v += kernel[k] * across[(static_cast<size_t>(y) + k) * static_cast<size_t>(cols) +
                                  static_cast<size_t>(i)];
        out[static_cast<size_t>(y) * static_cast<size_t>(cols) + static_cast<size_t>(i)] = v;
      }
  }
  return out;
}

// The blurred scenes of the last few geometries: a stream renders the same one every frame.
std::shared_ptr<const std::vector<float>> blurred_scene(const SensorParams& p, int w, int h, int x0,
                                                        int cols, int rows) {
  struct Entry {
    Scene scene;
    double blur;
    std::array<int, 5> box;
    std::shared_ptr<const std::vector<float>> values;
  };
  static std::mutex mutex;
  static std::vector<Entry> cache;
  const std::array<int, 5> box{w, h, x0, cols, rows};
  {
    std::lock_guard lock(mutex);
    for (const Entry& e : cache)
      if (e.scene == p.scene && e.blur == p.blur && e.box == box) return e.values;
  }
  auto values = std::make_shared<const std::vector<float>>(blur_scene(p, w, h, x0, cols, rows));
  std::lock_guard lock(mutex);
  if (cache.size() >= 4) cache.erase(cache.begin());
  cache.push_back({p.scene, p.blur, box, values});
  return values;
}

struct Model {
  const SensorParams& p;
  int w, h;
  double signal_scale;  // counts of a white pixel of the strongest color over this exposure
  double dark_charge;   // counts of dark charge over this exposure
  std::array<double, 3> response;  // per color, the strongest 1
  std::vector<uint8_t> defect;     // 1 stuck high, 2 dead, per sensor pixel (or empty)
  // With blur: the blurred scene over rows [0, ...) and columns [blur_x0, blur_x0 + blur_cols).
  std::shared_ptr<const std::vector<float>> blurred = nullptr;
  int blur_x0 = 0, blur_cols = 0;

  // Fixed-pattern hash of one pixel.
  uint64_t pixel(int x, int y) const {
    return mix(mix(p.seed ^ static_cast<uint64_t>(y) * 0xD6E8FEB86659FD93ull) ^
               static_cast<uint64_t>(x) * 0x9E3779B97F4A7C15ull);
  }
  // Light falling on one pixel during the exposure, in counts.
  double light(int x, int y, uint64_t ph) const {
    double s = blurred ? (*blurred)[static_cast<size_t>(y) * static_cast<size_t>(blur_cols) +
                                    static_cast<size_t>(x - blur_x0)]
                       : scene(p, w, h, x, y, color(x, y));
    if (s == 0.0) return 0.0;
    // Gain: the sum of two uniform numbers, scaled to unit variance.
    double n = static_cast<double>(ph & 0xFFFFFFFF) * 0x1p-32 +
               static_cast<double>(ph >> 32) * 0x1p-32 - 1.0;
    double g = 1.0 + p.prnu * n * 2.449489742783178;
    double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
    double dx = (x - cx) / cx, dy = (y - cy) / cy;
    double v = 1.0 - p.vignette * (dx * dx + dy * dy) / 2.0;
    return signal_scale * response[static_cast<size_t>(color(x, y))] * s * g * v;
  }
  double dark(uint64_t ph) const {
    double d = dark_charge;
    if (p.hot > 0) {
      uint64_t hh = mix(ph);
      if (unit(hh) < p.hot) d *= 50.0 + 150.0 * static_cast<double>(hh & 0xFFFF) / 65535.0;
    }
    return d;
  }
};

}  // namespace

int transferred_rows(const FrameGeometry& g) {
  if (g.binning < 1 || g.height <= 0) return 0;
  return g.mode == 0 ? g.height / (2 * g.binning) : g.height / g.binning;
}

std::vector<int> covered_rows(const FrameGeometry& g, int row, int sensor_h, bool color_rows) {
  std::vector<int> rows;
  int b = g.binning;
  if (g.mode == 0 && color_rows) {
    // Blocks of 4b sensor rows give two transferred rows: the sum of the 2b even rows of
    // the block, then the sum of its 2b odd rows.
    int base = g.top + 4 * b * (row / 2) + (row % 2);
    for (int j = 0; j < 2 * b; ++j) rows.push_back(base + 2 * j);
  } else if (g.mode == 0) {
    // Row i sums 2b rows from top + 2bi in pairs two rows apart; the pairs start on the
    // row's own color or, every other pair, one row earlier (the phase advances by one
    // per row unless 2b is a multiple of 4). With binning 1: top and top + 2, top + 1 and
    // top + 3, top + 4 and top + 6, and so on.
    int m = 2 * b;
    int y0 = g.top + row * m;
    int phase = m % 4 == 0 ? 0 : row;
    for (int s = 0; s < m / 2; ++s) {
      int first = (s + phase) % 2 == 0 ? y0 + 2 * s : y0 + 2 * s - 1;
      rows.push_back(first);
      rows.push_back(first + 2);
    }
  } else {
    // Row i sums b rows of one color, starting at the first row of that color at or
    // after top + i * b.
    int y0 = g.top + row * b;
    if (b % 2 == 0 && row % 2 == 1) ++y0;
    for (int j = 0; j < b; ++j) rows.push_back(y0 + 2 * j);
  }
  rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int y) { return y >= sensor_h; }),
             rows.end());
  return rows;
}

std::vector<uint16_t> render_frame(const SensorParams& p, int sensor_w, int sensor_h,
                                   const std::vector<uint32_t>& defects, const FrameGeometry& g,
                                   uint64_t exposure) {
  int rows = transferred_rows(g);
  if (rows <= 0 || g.width <= 0 || g.left < 0 || g.top < 0 || g.left + g.width > sensor_w ||
      g.top + g.height > sensor_h)
    return {};
  double seconds = g.ticks * 250e-6;
  double strongest = std::max({p.response[0], p.response[1], p.response[2]});
  std::array<double, 3> response{};
  if (strongest > 0)
    for (size_t k = 0; k < 3; ++k) response[k] = p.response[k] / strongest;
  Model m{p, sensor_w, sensor_h, p.level * seconds / 0.1, p.dark * seconds, response, {}};
  if (!defects.empty()) {
    m.defect.assign(static_cast<size_t>(sensor_w) * static_cast<size_t>(sensor_h), 0);
    for (uint32_t pos : defects)
      if (pos < m.defect.size()) m.defect[pos] = (mix(pos ^ p.seed) & 1) ? 2 : 1;
  }

  // Sensor rows the frame needs, and the charge of each pixel in them (light, dark charge,
  // and in the even columns the smear of the light above it in its column).
  int last = g.top;
  for (int i = 0; i < rows; ++i)
    for (int y : covered_rows(g, i, sensor_h, p.color_rows)) last = std::max(last, y);
  int first = g.top;
  for (int i = 0; i < rows; ++i)
    for (int y : covered_rows(g, i, sensor_h, p.color_rows)) first = std::min(first, y);
  size_t W = static_cast<size_t>(g.width);
  if (p.blur > 0) {
    m.blurred = blurred_scene(p, sensor_w, sensor_h, g.left, g.width, last + 1);
    m.blur_x0 = g.left;
    m.blur_cols = g.width;
  }
  std::vector<double> above(W, 0.0);  // light of the rows above, per column
  if (p.smear > 0) {
    for (int y = 0; y < first; ++y)
      for (size_t c = 0; c < W; ++c) {
        int x = g.left + static_cast<int>(c);
        above[c] += m.light(x, y, m.pixel(x, y));
      }
  }
  std::vector<float> charge(static_cast<size_t>(last - first + 1) * W);
  for (int y = first; y <= last; ++y) {
    float* row = &charge[static_cast<size_t>(y - first) * W];
    for (size_t c = 0; c < W; ++c) {
      int x = g.left + static_cast<int>(c);
      uint64_t ph = m.pixel(x, y);
      double l = m.light(x, y, ph);
      double q = l + m.dark(ph) + (x % 2 == 0 ? p.smear * above[c] : 0.0);
      above[c] += l;
      if (!m.defect.empty()) {
        uint8_t d = m.defect[static_cast<size_t>(y) * static_cast<size_t>(sensor_w) +
                             static_cast<size_t>(x)];
        if (d == 1) q = 1e6;
        if (d == 2) q = 0.0;
      }
      row[c] = static_cast<float>(q);
    }
  }

  std::vector<double> column(W);
  for (size_t c = 0; c < W; ++c) {
    double u = unit(hash(p.seed, kColumn, static_cast<uint64_t>(g.left) + c, 0));
    column[c] = std::floor((u * 2.0 - 1.0) * p.column_pattern + 0.5);
  }
  std::vector<uint16_t> out(static_cast<size_t>(rows) * W);
  const uint64_t frame_key = hash(p.seed, kNoise, exposure, 0);
  for (int i = 0; i < rows; ++i) {
    std::vector<int> ys = covered_rows(g, i, sensor_h, p.color_rows);
    double offset = 0.0;
    if (!ys.empty()) {
      double u =
          unit(hash(p.seed, kRow, static_cast<uint64_t>(ys[0]), static_cast<uint64_t>(g.mode)));
      offset = std::floor((u * 2.0 - 1.0) * p.row_pattern + 0.5);
    }
    for (size_t c = 0; c < W; ++c) {
      double q = 0.0;
      for (int y : ys) q += charge[static_cast<size_t>(y - first) * W + c];
      double v = p.bias + column[c] + offset + q;
      if (p.noise) {
        // Shot noise (variance = charge) and read noise together: one normal number.
        uint64_t h1 =
            mix(frame_key ^ (static_cast<uint64_t>(i) << 32 | (static_cast<uint64_t>(g.left) + c)));
        double sigma = std::sqrt(std::max(q, 0.0) + p.read_noise * p.read_noise);
        v += sigma * normal(h1);
      }
      double r = std::floor(v + 0.5);
      out[static_cast<size_t>(i) * W + c] = static_cast<uint16_t>(std::clamp(r, 0.0, 4095.0));
    }
  }
  return out;
}

std::vector<uint16_t> expected_frame(const SensorParams& p, int sensor_w, int sensor_h,
                                     const std::vector<uint32_t>& defects, const FrameGeometry& g) {
  SensorParams quiet = p;
  quiet.noise = false;
  return render_frame(quiet, sensor_w, sensor_h, defects, g, 0);
}

size_t payload_bytes(int width, int rows, int mode, bool packed) {
  size_t w = static_cast<size_t>(std::max(width, 0)), r = static_cast<size_t>(std::max(rows, 0));
  if (!packed) return w * r * 2;
  if (mode == 0) return (w * r + 1) / 2 * 3;
  size_t f0 = (w * ((r + 1) / 2) + 1) / 2 * 3;
  return 2 * f0;  // the odd field is never longer than the even one
}

void encode_frame(const uint16_t* samples, int width, int rows, int mode, bool packed, uint8_t* out,
                  size_t frame_bytes) {
  std::memset(out, 0, frame_bytes);
  if (width <= 0 || rows <= 0) return;
  size_t w = static_cast<size_t>(width);
  // Sample k of the transfer sequence: mode 0 row by row, else even rows then odd rows.
  std::vector<size_t> order;
  order.reserve(static_cast<size_t>(rows));
  if (mode == 0) {
    for (int r = 0; r < rows; ++r) order.push_back(static_cast<size_t>(r));
  } else {
    for (int r = 0; r < rows; r += 2) order.push_back(static_cast<size_t>(r));
    for (int r = 1; r < rows; r += 2) order.push_back(static_cast<size_t>(r));
  }
  if (!packed) {
    size_t pos = 0;
    for (size_t r : order) {
      for (size_t c = 0; c < w && pos + 2 <= frame_bytes; ++c, pos += 2) {
        uint16_t s = samples[r * w + c];
        out[pos] = static_cast<uint8_t>(s);
        out[pos + 1] = static_cast<uint8_t>(s >> 8);
      }
    }
    return;
  }
  // Two samples a, b in three bytes: a >> 4, b >> 4, (a & 15) << 4 | (b & 15).
  auto pack = [&](size_t first_row, size_t row_count, size_t start) {
    size_t n = row_count * w;
    for (size_t k = 0; k < n; k += 2) {
      size_t pos = start + k / 2 * 3;
      if (pos + 3 > frame_bytes) return;
      uint16_t a = samples[order[first_row + k / w] * w + k % w];
      uint16_t b = k + 1 < n ? samples[order[first_row + (k + 1) / w] * w + (k + 1) % w] : 0;
      out[pos] = static_cast<uint8_t>(a >> 4);
      out[pos + 1] = static_cast<uint8_t>(b >> 4);
      out[pos + 2] = static_cast<uint8_t>((a & 15) << 4 | (b & 15));
    }
  };
  if (mode == 0) {
    pack(0, order.size(), 0);
  } else {
    size_t even = (static_cast<size_t>(rows) + 1) / 2;
    pack(0, even, 0);
    pack(even, order.size() - even, frame_bytes / 2);
  }
}

}  // namespace vcam
