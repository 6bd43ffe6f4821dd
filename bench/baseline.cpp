#include "bench/baseline.h"

#include <algorithm>
#include <ctime>

#include <time.h>
#include <vector>

#if UCAP_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace ucap_bench {

#if UCAP_BENCH_OPENCV
bool baseline_available() { return true; }

void run_baseline(Baseline kind, const uint16_t* mosaic, int w, int h) {
  // One thread, as the stage rows it is compared with.
  static const bool single = [] {
    cv::setNumThreads(1);
    return true;
  }();
  (void)single;
  const cv::Mat in(h, w, CV_16UC1, const_cast<uint16_t*>(mosaic));
  static cv::Mat out;
  cv::cvtColor(in, out,
               kind == Baseline::kBilinear ? cv::COLOR_BayerBG2BGR : cv::COLOR_BayerBG2BGR_EA);
}
#else
bool baseline_available() { return false; }
void run_baseline(Baseline, const uint16_t*, int, int) {}
#endif

double baseline_seconds(Baseline kind, const uint16_t* mosaic, int w, int h) {
  if (!baseline_available()) return 0.0;
  static double measured[2] = {0.0, 0.0};
  double& seconds = measured[static_cast<int>(kind)];
  if (seconds == 0.0) {
    std::vector<double> runs;
    for (int i = 0; i < 9; ++i) {
      const auto start = std::chrono::steady_clock::now();
      run_baseline(kind, mosaic, w, h);
      runs.push_back(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::nth_element(runs.begin(), runs.begin() + 4, runs.end());
    seconds = runs[4];
  }
  return seconds;
}

}  // namespace ucap_bench
