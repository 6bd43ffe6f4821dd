#include "serve_preview.h"

#include <turbojpeg.h>

#include <algorithm>
#include <stdexcept>

namespace tool {
namespace {

constexpr int kTop = 4095;

Box clip(Box box, const Image& image) {
  box.left = std::clamp(box.left, 0, image.width);
  box.right = std::clamp(box.right, box.left, image.width);
  box.top = std::clamp(box.top, 0, image.height);
  box.bottom = std::clamp(box.bottom, box.top, image.height);
  return box;
}

// The point below which `share` of the counted samples lie.
int percentile(const std::vector<uint64_t>& counts, uint64_t total, double share) {
  const auto wanted = static_cast<uint64_t>(share * static_cast<double>(total));
  uint64_t seen = 0;
  for (size_t v = 0; v < counts.size(); ++v) {
    seen += counts[v];
    if (seen > wanted) return static_cast<int>(v);
  }
  return kTop;
}

// One turbojpeg compressor per thread, for the thread's life.
class Compressor {
 public:
  Compressor() : handle_(tjInitCompress()) {}
  ~Compressor() {
    if (handle_) tjDestroy(handle_);
  }
  Compressor(const Compressor&) = delete;
  Compressor& operator=(const Compressor&) = delete;
  tjhandle get() const { return handle_; }

 private:
  tjhandle handle_;
};

}  // namespace

double sharpness(const Image& image, Box region) {
  region = clip(region, image);
  if (region.right - region.left < 3 || region.bottom - region.top < 3) return 0;
  const size_t ch = static_cast<size_t>(image.channels);
  const size_t c = ch == 3 ? 1 : 0;
  const size_t stride = static_cast<size_t>(image.width) * ch;
  const uint16_t* w = image.words.data();
  double sum = 0, squares = 0;
  for (int y = region.top + 1; y < region.bottom - 1; ++y) {
    const uint16_t* row = w + static_cast<size_t>(y) * stride + c;
    int64_t line_sum = 0, line_squares = 0;
    for (int x = region.left + 1; x < region.right - 1; ++x) {
      const size_t i = static_cast<size_t>(x) * ch;
      const int64_t l = int64_t{row[i - ch]} + row[i + ch] + row[i - stride] + row[i + stride] -
                        4 * int64_t{row[i]};
      line_sum += l;
      line_squares += l * l;
    }
    sum += static_cast<double>(line_sum);
    squares += static_cast<double>(line_squares);
  }
  const double n =
      static_cast<double>(region.right - region.left - 2) * (region.bottom - region.top - 2);
  const double mean = sum / n;
  return squares / n - mean * mean;
}

ImageStats analyse(const Image& image, Box focus_region) {
  ImageStats stats;
  const size_t ch = static_cast<size_t>(image.channels);
  std::vector<uint64_t> counts(kTop + 1);
  std::vector<std::vector<uint32_t>> per_color(ch, std::vector<uint32_t>(kTop + 1));
  const size_t n = image.words.size() / ch * ch;
  for (size_t i = 0; i < n; i += ch)
    for (size_t c = 0; c < ch; ++c) ++per_color[c][std::min<uint16_t>(image.words[i + c], kTop)];
  stats.histogram.resize(ch);
  for (size_t c = 0; c < ch; ++c) {
    stats.histogram[c].fill(0);
    for (int v = 0; v <= kTop; ++v) {
      stats.histogram[c][static_cast<size_t>(v) >> 4] += per_color[c][static_cast<size_t>(v)];
      counts[static_cast<size_t>(v)] += per_color[c][static_cast<size_t>(v)];
    }
    stats.saturated += per_color[c][kTop];
  }
  stats.low = percentile(counts, n, 0.005);
  stats.high = std::max(percentile(counts, n, 0.995), stats.low + 1);
  stats.sharpness = sharpness(image, focus_region);
  return stats;
}

Preview render_preview(const Image& image, const PreviewRequest& request) {
  Preview preview;
  Box crop = clip(request.crop, image);
  if (crop.right <= crop.left || crop.bottom <= crop.top)
    crop = clip({0, 0, image.width, image.height}, image);
  const int cw = crop.right - crop.left, chh = crop.bottom - crop.top;
  if (cw <= 0 || chh <= 0) throw std::runtime_error("empty image");
  const int fit_w = std::max(request.max_width, 1), fit_h = std::max(request.max_height, 1);
  // A block never reaches past the crop: a crop thinner than the block the other side asks
  // for is shown at a smaller block (and so a larger preview) rather than read past the image.
  const int scale =
      std::min({std::max({1, (cw + fit_w - 1) / fit_w, (chh + fit_h - 1) / fit_h}), cw, chh});
  const int ow = std::max(1, cw / scale), oh = std::max(1, chh / scale);
  preview.width = ow;
  preview.height = oh;
  preview.scale = scale;
  preview.crop = {crop.left, crop.top, crop.left + ow * scale, crop.top + oh * scale};

  // Counts to display levels.
  std::array<uint8_t, kTop + 1> level{};
  const int low = std::clamp(request.low, 0, kTop - 1),
            high = std::clamp(request.high, low + 1, kTop);
  for (int v = 0; v <= kTop; ++v)
    level[static_cast<size_t>(v)] =
        static_cast<uint8_t>(std::clamp((v - low) * 255 / (high - low), 0, 255));

  const size_t ch = static_cast<size_t>(image.channels);
  const size_t stride = static_cast<size_t>(image.width) * ch;
  std::vector<uint8_t> rgb(static_cast<size_t>(ow) * static_cast<size_t>(oh) * 3);
  std::vector<uint32_t> sums(static_cast<size_t>(ow) * ch);
  std::vector<uint8_t> full(static_cast<size_t>(ow));
  const uint32_t block = static_cast<uint32_t>(scale) * static_cast<uint32_t>(scale);
  for (int oy = 0; oy < oh; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    std::fill(full.begin(), full.end(), 0);
    for (int y = crop.top + oy * scale; y < crop.top + (oy + 1) * scale; ++y) {
      const uint16_t* row = image.words.data() + static_cast<size_t>(y) * stride +
                            static_cast<size_t>(crop.left) * ch;
      for (int ox = 0; ox < ow; ++ox) {
        uint32_t* s = &sums[static_cast<size_t>(ox) * ch];
        uint16_t top = 0;
        for (int k = 0; k < scale; ++k, row += ch)
          for (size_t c = 0; c < ch; ++c) {
            s[c] += row[c];
            top = std::max(top, row[c]);
          }
        if (top >= kTop) full[static_cast<size_t>(ox)] = 1;
      }
    }
    uint8_t* out = &rgb[static_cast<size_t>(oy) * static_cast<size_t>(ow) * 3];
    for (size_t ox = 0; ox < static_cast<size_t>(ow); ++ox, out += 3) {
      if (request.mark_saturated && full[ox]) {
        out[0] = 255, out[1] = 0, out[2] = 255;
        continue;
      }
      for (size_t c = 0; c < 3; ++c)
        out[c] = level[std::min<uint32_t>(sums[ox * ch + (ch == 3 ? c : 0)] / block, kTop)];
    }
  }

  thread_local Compressor compressor;
  if (!compressor.get()) throw std::runtime_error("the JPEG encoder could not start");
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  if (tjCompress2(compressor.get(), rgb.data(), ow, 0, oh, TJPF_RGB, &jpeg, &size, TJSAMP_420,
                  std::clamp(request.quality, 10, 100), TJFLAG_FASTDCT) != 0) {
    tjFree(jpeg);
    throw std::runtime_error(std::string("JPEG encoder: ") + tjGetErrorStr2(compressor.get()));
  }
  preview.jpeg.assign(reinterpret_cast<const char*>(jpeg), size);
  tjFree(jpeg);
  return preview;
}

}  // namespace tool
