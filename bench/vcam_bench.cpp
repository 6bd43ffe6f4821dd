// The virtual camera's readout: what a full-sensor frame costs the host to compute and lay
// out for the bus (time that the camera's own clock does not count).
#include <benchmark/benchmark.h>

#include <vector>

#include "vcam/sensor.h"

namespace {

void BM_VcamRenderFullFrame(benchmark::State& state) {
  vcam::SensorParams p;
  p.noise = state.range(0) != 0;
  vcam::FrameGeometry g{static_cast<int>(state.range(1)), 1, 0, 0, 2584, 1936, 400};
  for (auto _ : state) {
    auto f = vcam::render_frame(p, 2584, 1936, {}, g, 1);
    benchmark::DoNotOptimize(f.data());
  }
}
BENCHMARK(BM_VcamRenderFullFrame)
    ->Args({0, 2})
    ->Args({1, 2})
    ->Args({1, 0})
    ->Unit(benchmark::kMillisecond);

void BM_VcamEncodePackedFields(benchmark::State& state) {
  std::vector<uint16_t> samples(2584u * 1936u, 1234);
  std::vector<uint8_t> wire(vcam::payload_bytes(2584, 1936, 2, true));
  for (auto _ : state) {
    vcam::encode_frame(samples.data(), 2584, 1936, 2, true, wire.data(), wire.size());
    benchmark::DoNotOptimize(wire.data());
  }
}
BENCHMARK(BM_VcamEncodePackedFields)->Unit(benchmark::kMillisecond);

}  // namespace
