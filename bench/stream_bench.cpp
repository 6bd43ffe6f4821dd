// Fast acquisition through the exports against the virtual camera in real time: full
// sensor, full resolution grey, shortest exposure. Reports the frames per second the
// stream reaches and, beside it, what the camera's bus model allows: the exposure plus one
// isochronous cycle (125 us) per packet of at most 4096 bytes. The camera's time to
// compute a frame on the host comes on top (see vcam_bench).
#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

#include "ucap/ucap.h"
#include "ucap/vcam.h"
#include "vcam/sensor.h"

namespace {

void BM_FastAcquisitionFullFrame(benchmark::State& state) {
  const int packing = static_cast<int>(state.range(0));
  UcapClose();
  ucap_vcam_reset();
  if (ucap_vcam_attach("noise=0") < 0 || UcapInit() != 0 || UcapSetResolution(3) != 0 ||
      UcapSetBitsPerPixel(12) != 0 || UcapSetExposure(250) != 0 ||
      UcapmEnablePacking(0, packing) != 0) {
    state.SkipWithError("no camera");
    return;
  }
  int32_t w = 0, h = 0;
  UcapGetCurrentDataSize(&w, &h);
  std::vector<uint16_t> image(static_cast<size_t>(w) * static_cast<size_t>(h));
  const int32_t bytes = static_cast<int32_t>(image.size() * 2);
  auto next = [&](int32_t go_on) {
    int32_t r = 0;
    while ((r = UcapIsFastAcquisitionReady(image.data(), bytes, go_on)) == 0)
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    return r;
  };
  if (UcapStartFastAcquisition() != 0 || next(1) != 1) {
    state.SkipWithError("no stream");
    return;
  }
  int64_t frames = 0;
  for (auto _ : state) {
    if (next(1) != 1) {
      state.SkipWithError("stream broken");
      break;
    }
    ++frames;
  }
  next(0);
  UcapClose();
  ucap_vcam_reset();

  const size_t payload = vcam::payload_bytes(w, h, 2, packing != 0);
  const double bus_seconds = 250e-6 + static_cast<double>((payload + 4095) / 4096) * 125e-6;
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["bus_model_fps"] = 1.0 / bus_seconds;
}
BENCHMARK(BM_FastAcquisitionFullFrame)
    ->Arg(1)
    ->Arg(0)
    ->Iterations(20)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
