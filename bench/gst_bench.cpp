// What the GStreamer element ucapsrc adds to a frame of the library's fast acquisition, at
// the full sensor (2584 x 1936) of the virtual camera: the library processes each frame into
// a buffer of the element's video pool (the one copy of the frame), then the element's own
// work follows as in its create(): the buffer from the pool, mapped, the in-place pass to
// the caps' layout (widened to 16 bits, the default), unmapped and returned. Argument: the
// resolution (0: full color as BGRA64_LE, 3: interlaced grey as GRAY16_LE). The library runs
// its stages on the calling thread alone (UCAP_THREADS=1 for this row), and both parts are
// timed in that thread's CPU time, so that a machine shared with other work does not blur
// them; the time waiting for the camera counts in neither. Reports the library's and the
// element's milliseconds per frame and the element's share of the library's time (target:
// at most 0.10).
#include <benchmark/benchmark.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <time.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "frame_layout.h"
#include "ucap/ucap.h"
#include "ucap/vcam.h"

namespace {

// CPU seconds of the calling thread.
double thread_seconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// UCAP_THREADS for the life of one row, as it was afterwards.
struct ThreadsSetting {
  std::string before;
  bool had;
  explicit ThreadsSetting(const char* value) {
    const char* old = std::getenv("UCAP_THREADS");
    had = old != nullptr;
    if (had) before = old;
    setenv("UCAP_THREADS", value, 1);
  }
  ~ThreadsSetting() { had ? setenv("UCAP_THREADS", before.c_str(), 1) : unsetenv("UCAP_THREADS"); }
};

void BM_GstSrcFrame(benchmark::State& state) {
  const int resolution = static_cast<int>(state.range(0));
  gst_init(nullptr, nullptr);
  const ThreadsSetting one_thread("1");
  UcapClose();
  ucap_vcam_reset();
  if (ucap_vcam_attach("noise=0") < 0 || UcapInit() != 0 || UcapSetResolution(resolution) != 0 ||
      UcapSetBitsPerPixel(resolution == 3 ? 12 : 36) != 0 || UcapSetImageSize(nullptr) != 0 ||
      UcapSetExposure(250) != 0) {
    state.SkipWithError("no camera");
    return;
  }
  int32_t w = 0, h = 0;
  UcapGetCurrentDataSize(&w, &h);
  const bool color = resolution != 3;
  GstVideoInfo info;
  gst_video_info_set_format(&info, color ? GST_VIDEO_FORMAT_BGRA64_LE : GST_VIDEO_FORMAT_GRAY16_LE,
                            static_cast<guint>(w), static_cast<guint>(h));
  GstCaps* caps = gst_video_info_to_caps(&info);
  GstBufferPool* pool = gst_video_buffer_pool_new();
  GstStructure* config = gst_buffer_pool_get_config(pool);
  gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(info.size), 2, 0);
  gst_buffer_pool_config_add_option(config, GST_BUFFER_POOL_OPTION_VIDEO_META);
  gst_buffer_pool_set_config(pool, config);
  gst_buffer_pool_set_active(pool, TRUE);

  double library = 0, element = 0;
  bool started = UcapStartFastAcquisition() == 0;
  for (auto _ : state) {
    if (!started) break;
    double at = thread_seconds();
    GstBuffer* buffer = nullptr;
    GstMapInfo map;
    gst_buffer_pool_acquire_buffer(pool, &buffer, nullptr);
    gst_buffer_map(buffer, &map, GST_MAP_WRITE);
    double own = thread_seconds() - at;
    auto* data = reinterpret_cast<uint16_t*>(map.data);
    int32_t r = 0;
    for (;;) {
      at = thread_seconds();
      r = UcapIsFastAcquisitionReady(data, static_cast<int32_t>(map.size), 1);
      if (r != 0) break;
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const double processing = thread_seconds() - at;
    at = thread_seconds();
    ucap_gst::lay_out_frame(data, w, h, color ? 3 : 1, GST_VIDEO_INFO_PLANE_STRIDE(&info, 0) / 2,
                            true);
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    own += thread_seconds() - at;
    if (r != 1) {
      state.SkipWithError("stream broken");
      started = false;
      break;
    }
    library += processing;
    element += own;
    state.SetIterationTime(processing + own);
  }
  if (started) UcapAbortFastAcquisition();
  gst_buffer_pool_set_active(pool, FALSE);
  gst_object_unref(pool);
  gst_caps_unref(caps);
  UcapClose();
  ucap_vcam_reset();
  const auto n = static_cast<double>(state.iterations());
  state.counters["library_ms"] = 1e3 * library / n;
  state.counters["element_ms"] = 1e3 * element / n;
  state.counters["element_share"] = library > 0 ? element / library : 0;
}
BENCHMARK(BM_GstSrcFrame)
    ->ArgName("resolution")
    ->Arg(0)
    ->Arg(3)
    ->Iterations(20)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
