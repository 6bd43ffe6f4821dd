// OpenCV's Bayer demosaicing as the yardstick of the interpolation benchmarks.
#pragma once

#include <cstdint>

namespace ucap_bench {

enum class Baseline : int { kBilinear = 0, kEdgeAware = 1 };

// Whether the benchmark was built with OpenCV.
bool baseline_available();
// One demosaicing of the 16-bit mosaic (w x h) into a 16-bit three-channel image.
void run_baseline(Baseline kind, const uint16_t* mosaic, int w, int h);
// Median processor time of one run_baseline in seconds, measured once per kind; 0 without
// OpenCV.
double baseline_seconds(Baseline kind, const uint16_t* mosaic, int w, int h);

}  // namespace ucap_bench
