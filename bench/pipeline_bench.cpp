// The image stages and interpolators at full sensor size (2584 x 1936), one benchmark
// each, on a smooth scene with noise. Reports ms per frame and megapixels per second.
// The rows named after a stage run it on one thread; the rows ending in _AllCores run it
// on the row-band pool at its default size (all processors, or UCAP_THREADS). Where the
// benchmark is built with OpenCV, its Bayer demosaicing of the same mosaic (16-bit,
// bilinear and edge-aware) has rows too, and every stage row shows its time as a multiple
// of theirs (x_cv_bilinear, x_cv_edge_aware).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "acquisition/binned_references.h"
#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "bench/baseline.h"
#include "calibration/color_tables.h"
#include "color/interpolation.h"
#include "core/bands.h"
#include "flow/chain.h"
#include "flow/stage_adapters.h"
#include "settings/exposure.h"

namespace {

constexpr int W = ucap::kMaxSensorWidth;
constexpr int H = ucap::kMaxSensorHeight;
constexpr size_t N = static_cast<size_t>(W) * H;

// Everything a benchmark needs, built once.
struct Scene {
  std::vector<uint16_t> mosaic = std::vector<uint16_t>(N);  // 12-bit color mosaic
  std::vector<uint16_t> black = std::vector<uint16_t>((H + 2) * static_cast<size_t>(W));
  std::vector<uint16_t> white = std::vector<uint16_t>(N);
  std::vector<uint32_t> blemishes;
  std::unique_ptr<ucap::ColorTables> tables = std::make_unique<ucap::ColorTables>();

  Scene() {
    std::mt19937 rng(1);
    std::normal_distribution<double> noise(0.0, 12.0);
    for (int y = 0; y < H; ++y) {
      for (int x = 0; x < W; ++x) {
        // Soft gradients and rings, a different level per mosaic color.
        const double r = std::hypot(x - W / 2.0, y - H / 2.0);
        const double base = 1800 + 1200 * std::sin(r / 90.0) * std::cos(x / 300.0);
        const double color = (x % 2 == 0 && y % 2 == 0) ? 0.8 : (x % 2 && y % 2) ? 0.6 : 1.0;
        const double v = 32 + base * color + noise(rng);
        mosaic[static_cast<size_t>(y) * W + x] = static_cast<uint16_t>(std::clamp(v, 0.0, 4095.0));
      }
    }
    std::uniform_int_distribution<int> dark(-20, 400), offset(-8, 8), gain(3600, 4600);
    for (size_t i = 0; i < N; ++i) {
      black[i] = static_cast<uint16_t>(dark(rng));
      white[i] = static_cast<uint16_t>(gain(rng));
    }
    for (int x = 0; x < W; ++x) black[N + x] = static_cast<uint16_t>(offset(rng));
    for (int i = 0; i < 2000; ++i) blemishes.push_back(static_cast<uint32_t>(rng() % N));
    // A few hundred hot pixels in the black reference.
    for (int i = 0; i < 300; ++i) black[rng() % N] = 30000;
    const double wb[3] = {1.37, 1.93, 1.0}, saturation[3] = {1.0, 1.0, 1.0};
    ucap::build_gain_tables(wb, *tables);
    double matrix[9];
    ucap::build_color_matrix(saturation, matrix);
    ucap::build_term_tables(matrix, *tables);
    ucap::fill_output_table(*tables);
  }
  ucap::ReferenceView refs() const { return {black.data(), white.data(), W, H}; }
};

const Scene& scene() {
  static const Scene s;
  return s;
}

void report(benchmark::State& state, size_t pixels) {
  state.counters["MP/s"] = benchmark::Counter(static_cast<double>(pixels) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
  // Time per frame over the baseline's: (elapsed / iterations) / baseline seconds.
  const auto ratio = benchmark::Counter::Flags(benchmark::Counter::kIsIterationInvariantRate |
                                               benchmark::Counter::kInvert);
  const double bilinear =
      ucap_bench::baseline_seconds(ucap_bench::Baseline::kBilinear, scene().mosaic.data(), W, H);
  const double edge =
      ucap_bench::baseline_seconds(ucap_bench::Baseline::kEdgeAware, scene().mosaic.data(), W, H);
  if (bilinear > 0) state.counters["x_cv_bilinear"] = benchmark::Counter(bilinear, ratio);
  if (edge > 0) state.counters["x_cv_edge_aware"] = benchmark::Counter(edge, ratio);
}

// The pool at its default size for the lifetime of one _AllCores benchmark.
struct AllCores {
  AllCores() { ucap::bands::start(); }
  ~AllCores() { ucap::bands::stop(); }
  AllCores(const AllCores&) = delete;
  AllCores& operator=(const AllCores&) = delete;
};

// Registers `fn` under `name` (one thread) and under name + "_AllCores".
#define UCAP_BENCH_BOTH(fn, ...)                            \
  BENCHMARK(fn) __VA_ARGS__->Unit(benchmark::kMillisecond); \
  void fn##_AllCores(benchmark::State& state) {             \
    const AllCores pool;                                    \
    fn(state);                                              \
  }                                                         \
  BENCHMARK(fn##_AllCores) __VA_ARGS__->Unit(benchmark::kMillisecond)->UseRealTime()

void BM_UnpackPixels12(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  std::vector<uint8_t> packed(N * 3 / 2);
  for (size_t i = 0; i + 1 < N; i += 2) {
    const uint16_t a = scene().mosaic[i], b = scene().mosaic[i + 1];
    packed[3 * (i / 2)] = static_cast<uint8_t>(a >> 4);
    packed[3 * (i / 2) + 1] = static_cast<uint8_t>(b >> 4);
    packed[3 * (i / 2) + 2] = static_cast<uint8_t>(((a & 15) << 4) | (b & 15));
  }
  std::vector<uint8_t> frame(2 * N);
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(frame.data(), packed.data(), packed.size());
    state.ResumeTiming();
    ucap::UnpackPixels12(frame.data(), frame.size(), 0, W, H, packed.size());
    benchmark::DoNotOptimize(frame.data());
  }
  report(state, N);
}
BENCHMARK(BM_UnpackPixels12)->Unit(benchmark::kMillisecond);

void BM_InterleaveFields(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  std::vector<uint16_t> out(N);
  for (auto _ : state) {
    ucap::InterleaveFields(out.data(), scene().mosaic.data(), W, H);
    benchmark::DoNotOptimize(out.data());
  }
  report(state, N);
}
BENCHMARK(BM_InterleaveFields)->Unit(benchmark::kMillisecond);

// Arguments: binning, row-pair flag. The image is refreshed outside the timing.
void BM_ApplyReferences(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  const int b = static_cast<int>(state.range(0));
  const bool row_pair = state.range(1) != 0;
  const int m = row_pair ? 2 * b : b;
  const size_t n = static_cast<size_t>(H / m) * W;
  std::vector<uint16_t> image(n);
  for (auto _ : state) {
    state.PauseTiming();
    std::copy_n(scene().mosaic.begin(), n, image.begin());
    state.ResumeTiming();
    ucap::ApplyReferences(scene().refs(), image.data(), 4000, ucap::Rect{0, 0, W, H}, b, true, true,
                          row_pair);
    benchmark::DoNotOptimize(image.data());
  }
  report(state, n);
}
UCAP_BENCH_BOTH(BM_ApplyReferences, ->Args({1, 0})->Args({1, 1})->Args({2, 1}));

void BM_CorrectBlemishes(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  std::vector<uint16_t> image(scene().mosaic);
  const auto& list = scene().blemishes;
  for (auto _ : state) {
    ucap::CorrectBlemishes(list.data(), static_cast<int32_t>(list.size()), scene().refs(), true,
                           image.data(), ucap::Rect{0, 0, W, H}, 1, 4000, false);
    benchmark::DoNotOptimize(image.data());
  }
  report(state, N);
}
BENCHMARK(BM_CorrectBlemishes)->Unit(benchmark::kMillisecond);

void BM_DoubleRows(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  std::vector<uint16_t> out(N);
  for (auto _ : state) {
    ucap::double_rows(out.data(), scene().mosaic.data(), W, H / 2);
    benchmark::DoNotOptimize(out.data());
  }
  report(state, N);
}
BENCHMARK(BM_DoubleRows)->Unit(benchmark::kMillisecond);

// Argument 1: the even columns carry a leak of the signal above them, so the estimate
// finds smear and the correction runs; 0: the scene as it is (the estimate alone).
void BM_CorrectSmear(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  std::vector<uint16_t> source(s.mosaic), image(N);
  if (state.range(0) != 0) {
    for (int x = 0; x < W; x += 2) {
      double above = 0.0;
      for (int y = 0; y < H; ++y) {
        uint16_t& p = source[static_cast<size_t>(y) * W + x];
        const double signal = p;
        p = static_cast<uint16_t>(std::min(4095.0, signal + 4e-5 * above));
        above += signal;
      }
    }
  }
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(source.begin(), source.end(), image.begin());
    state.ResumeTiming();
    ucap::CorrectSmear(image.data(), W, H);
    benchmark::DoNotOptimize(image.data());
  }
  report(state, N);
}
UCAP_BENCH_BOTH(BM_CorrectSmear, ->Arg(0)->Arg(1));

// Resolution 1 frames: H rows of summed row pairs, W words each.
void BM_AssembleHalfColor(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  const int b = static_cast<int>(state.range(0));
  std::vector<uint16_t> out(3 * N / (2 * b));
  for (auto _ : state) {
    ucap::AssembleHalfColor(*scene().tables, out.data(), scene().mosaic.data(), b,
                            ucap::Rect{0, 0, W, H});
    benchmark::DoNotOptimize(out.data());
  }
  report(state, N);
}
UCAP_BENCH_BOTH(BM_AssembleHalfColor, ->Arg(1)->Arg(3));

void BM_AssembleHalfMono(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  std::vector<uint16_t> out(N / 4);
  for (auto _ : state) {
    ucap::AssembleHalfMono(out.data(), scene().mosaic.data(), 2, ucap::Rect{0, 0, W, H});
    benchmark::DoNotOptimize(out.data());
  }
  report(state, N);
}
BENCHMARK(BM_AssembleHalfMono)->Unit(benchmark::kMillisecond);

void BM_ApplyColorMatrix(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  std::vector<uint16_t> pixels(3 * N);
  ucap::InterpolateBlocks(*scene().tables, pixels.data(), scene().mosaic.data(),
                          ucap::Rect{0, 0, W, H});
  const auto original = pixels;
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(original.begin(), original.end(), pixels.begin());
    state.ResumeTiming();
    ucap::ApplyColorMatrix(*scene().tables, 1, pixels.data(), static_cast<int32_t>(N));
    benchmark::DoNotOptimize(pixels.data());
  }
  report(state, N);
}
UCAP_BENCH_BOTH(BM_ApplyColorMatrix, );

void BM_GreyFromColor(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  const size_t n = N / 2;  // resolution 1, 12 bits: W / 2 color pixels per row
  std::vector<uint16_t> pixels(3 * n), grey(n);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = scene().mosaic[i % N];
  for (auto _ : state) {
    ucap::grey_from_color(grey.data(), pixels.data(), static_cast<int32_t>(n));
    benchmark::DoNotOptimize(grey.data());
  }
  report(state, n);
}
BENCHMARK(BM_GreyFromColor)->Unit(benchmark::kMillisecond);

void BM_PrepareBinnedReferences(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  const int b = static_cast<int>(state.range(0));
  std::vector<uint16_t> black(ucap::kMaxSensorWidth * ucap::kMaxSensorHeight / 2);
  std::vector<uint16_t> white(black.size());
  for (auto _ : state) {
    ucap::PrepareBinnedReferences(scene().refs(), {black.data(), white.data(), black.size()}, 4000,
                                  ucap::Rect{0, 0, W, H}, b, true, true);
    benchmark::DoNotOptimize(black.data());
  }
  report(state, N);
}
BENCHMARK(BM_PrepareBinnedReferences)->Arg(2)->Arg(5)->Unit(benchmark::kMillisecond);

void BM_ApplyBinnedReferences(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  const int b = 2;
  std::vector<uint16_t> black(N / 4), white(N / 4);
  ucap::PrepareBinnedReferences(scene().refs(), {black.data(), white.data(), black.size()}, 4000,
                                ucap::Rect{0, 0, W, H}, b, true, true);
  std::vector<uint16_t> image(N / 4);
  for (auto _ : state) {
    state.PauseTiming();
    std::copy_n(scene().mosaic.begin(), image.size(), image.begin());
    state.ResumeTiming();
    ucap::ApplyBinnedReferences(black.data(), white.data(), black.size(), image.data(),
                                ucap::Rect{0, 0, W, H}, b, true, true);
    benchmark::DoNotOptimize(image.data());
  }
  report(state, image.size());
}
BENCHMARK(BM_ApplyBinnedReferences)->Unit(benchmark::kMillisecond);

// Argument: quality level (1 standard, 2 high quality).
void BM_InterpolateColor(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  const int quality = static_cast<int>(state.range(0));
  std::vector<uint16_t> out(3 * N);
  for (auto _ : state) {
    ucap::InterpolateColor(*scene().tables, out.data(), scene().mosaic.data(),
                           ucap::Rect{0, 0, W, H}, quality, ucap::library_services());
    benchmark::DoNotOptimize(out.data());
  }
  report(state, N);
}
UCAP_BENCH_BOTH(BM_InterpolateColor, ->Arg(1)->Arg(2));

void BM_InterpolateBlocks(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  std::vector<uint16_t> out(3 * N);
  for (auto _ : state) {
    ucap::InterpolateBlocks(*scene().tables, out.data(), scene().mosaic.data(),
                            ucap::Rect{0, 0, W, H});
    benchmark::DoNotOptimize(out.data());
  }
  report(state, N);
}
UCAP_BENCH_BOTH(BM_InterpolateBlocks, );

void BM_InterpolateBinned(benchmark::State& state) {
  const Scene& s = scene();  // built before the timing starts
  (void)s;
  const int b = static_cast<int>(state.range(0));
  std::vector<uint16_t> out(3 * N / b + 3 * W);
  for (auto _ : state) {
    ucap::InterpolateBinned(*scene().tables, out.data(), scene().mosaic.data(),
                            ucap::Rect{0, 0, W, H}, b, ucap::library_services());
    benchmark::DoNotOptimize(out.data());
  }
  report(state, N);
}
BENCHMARK(BM_InterpolateBinned)->Arg(2)->Arg(5)->Unit(benchmark::kMillisecond);

// The processing chain (flow/chain.h) of one full-frame frame after the transfer (12-bit
// words, no unpacking, binning 1, 36 bits per pixel at half resolution), both references
// on, the scene's blemish list; argument: the resolution. The camera sends H / 2 summed
// rows at resolutions 0 and 1. The raw frame the chain changes in place is restored
// outside the timing.
void run_chain(benchmark::State& state, ucap::Pipeline pipeline) {
  const Scene& s = scene();  // built before the timing starts
  ucap::CapturePlan plan;
  plan.resolution = static_cast<int32_t>(state.range(0));
  plan.bits_per_pixel = plan.resolution == 3 ? 12 : 36;
  plan.exposure = 4000 * ucap::kExposureStep;
  plan.ticks = 4000;
  plan.image = ucap::Rect{0, 0, W, H};
  plan.black = plan.white = plan.black_present = 1;
  plan.pipeline = pipeline;
  plan.transferred = ucap::Rect{0, 0, W, plan.resolution < 2 ? H / 2 : H};
  ucap::flow::ChainInputs in;
  in.tables = s.tables.get();
  in.references = s.refs();
  in.blemishes = s.blemishes.data();
  in.blemish_count = static_cast<int32_t>(s.blemishes.size());
  in.color_matrix = 1;
  in.services = &ucap::library_services();
  const size_t words = static_cast<size_t>(plan.transferred.width()) * plan.transferred.height();
  std::vector<uint16_t> frame(N), color(3 * N);
  for (auto _ : state) {
    state.PauseTiming();
    std::copy_n(s.mosaic.begin(), words, frame.begin());
    state.ResumeTiming();
    ucap::flow::process_frame(plan, reinterpret_cast<uint8_t*>(frame.data()), 2 * N, color.data(),
                              in);
    benchmark::DoNotOptimize(color.data());
    benchmark::DoNotOptimize(frame.data());
  }
  report(state, N);
}

void BM_SingleShotChain(benchmark::State& state) { run_chain(state, ucap::Pipeline::kSingleShot); }
UCAP_BENCH_BOTH(BM_SingleShotChain, ->ArgName("resolution")->DenseRange(0, 3));

void BM_FastFrameChain(benchmark::State& state) { run_chain(state, ucap::Pipeline::kStream); }
UCAP_BENCH_BOTH(BM_FastFrameChain, ->ArgName("resolution")->DenseRange(0, 2));

// OpenCV's Bayer demosaicing of the same mosaic, 16-bit (absent without OpenCV).
void BM_OpenCV(benchmark::State& state) {
  const auto kind = static_cast<ucap_bench::Baseline>(state.range(0));
  if (!ucap_bench::baseline_available()) {
    state.SkipWithError("built without OpenCV");
    return;
  }
  for (auto _ : state) ucap_bench::run_baseline(kind, scene().mosaic.data(), W, H);
  report(state, N);
}
BENCHMARK(BM_OpenCV)
    ->ArgName("edge_aware")
    ->Arg(static_cast<int>(ucap_bench::Baseline::kBilinear))
    ->Arg(static_cast<int>(ucap_bench::Baseline::kEdgeAware))
    ->Unit(benchmark::kMillisecond);

}  // namespace
