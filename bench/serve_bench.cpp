// `ucap serve`: what the server spends on one preview frame of the full sensor on one core:
// the statistics (histograms, display range, focus figure) and the preview itself (crop,
// block average, display mapping, JPEG), for a page of 1024 x 768 and for 1:1 zoom.
#include <benchmark/benchmark.h>

#include "serve_preview.h"
#include "vcam/sensor.h"

namespace {

// A full-sensor colour image with the chart and the sensor's noise in it.
tool::Image full_sensor_image() {
  vcam::SensorParams p;
  const vcam::FrameGeometry g{2, 1, 0, 0, 2584, 1936, 400};
  const std::vector<uint16_t> raw = vcam::render_frame(p, 2584, 1936, {}, g, 1);
  tool::Image image{2584, 1936, 3, std::vector<uint16_t>(raw.size() * 3)};
  for (size_t y = 0; y < 1936; ++y)
    for (size_t x = 0; x < 2584; ++x)
      for (size_t c = 0; c < 3; ++c)
        image.words[(y * 2584 + x) * 3 + c] = raw[(y ^ (c >> 1)) * 2584 + (x ^ (c & 1))];
  return image;
}

void BM_ServePreviewFrame(benchmark::State& state) {
  static const tool::Image image = full_sensor_image();
  tool::PreviewRequest request;
  request.max_width = static_cast<int>(state.range(0));
  request.max_height = static_cast<int>(state.range(1));
  request.crop = {0, 0, 2584, 1936};
  if (state.range(0) < 1024)
    request.crop = {800, 600, 800 + request.max_width, 600 + request.max_height};
  size_t bytes = 0;
  for (auto _ : state) {
    const tool::ImageStats stats = tool::analyse(image, {0, 0, 2584, 1936});
    request.low = stats.low;
    request.high = stats.high;
    const tool::Preview preview = tool::render_preview(image, request);
    bytes = preview.jpeg.size();
    benchmark::DoNotOptimize(preview.jpeg.data());
  }
  state.counters["jpeg_bytes"] = static_cast<double>(bytes);
}
// A page of 1024 x 768 showing the whole sensor; 1:1 zoom into 1000 x 700 image pixels.
BENCHMARK(BM_ServePreviewFrame)
    ->Args({1024, 768})
    ->Args({1000, 700})
    ->Unit(benchmark::kMillisecond);

void BM_ServeStatistics(benchmark::State& state) {
  static const tool::Image image = full_sensor_image();
  for (auto _ : state) benchmark::DoNotOptimize(tool::analyse(image, {0, 0, 2584, 1936}).sharpness);
}
BENCHMARK(BM_ServeStatistics)->Unit(benchmark::kMillisecond);

}  // namespace
