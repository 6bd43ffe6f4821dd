// Capture settings given on the command line, applied to the session's camera in the order
// the interface needs them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tool {

struct CaptureOptions {
  std::optional<int> resolution, bits, binning;
  std::string exposure;                // "250us", "10ms", "2s"; empty: keep
  std::vector<int> roi;                // left, top, right, bottom; empty: the whole field
  std::string black_ref, white_table;  // calibration files to load and switch on
  std::optional<bool> color_processing;
  std::vector<double> white_balance;  // red, green, blue; empty: keep
};

// Microseconds of "250us", "10ms", "2s", "1.5s" (also "µs"); nullopt for anything else.
std::optional<int64_t> parse_exposure(const std::string& text);

// Loads and checks the calibration files first (nothing reaches the camera from a refused
// file), then sets resolution, pixel depth, binning, region, exposure, references, color
// processing and white balance. A resolution given without a pixel depth keeps the current
// one if the resolution offers it, else takes the one it offers.
// The calibration files must fit a sensor of `sensor_width` x `sensor_height`. Throws a
// Failure naming the setting the library refused.
void apply_capture_options(int index, uint32_t sensor_width, uint32_t sensor_height,
                           const CaptureOptions& options);
// The same for the camera and sensor of a session.
class Session;
void apply_capture_options(const Session& session, const CaptureOptions& options);

}  // namespace tool
