// Views into the virtual camera for C++ tests: state that no register shows.
#pragma once

#include <cstdint>
#include <vector>

namespace vcam {

// Register bases that the virtual camera's configuration ROM leads to.
inline constexpr uint32_t kCommandRegisters = 0xF0E00000;
inline constexpr uint32_t kVendorRegisters = 0xF0F00000;
inline constexpr uint32_t kModeRegisters = 0xF0E10000;  // mode m at + 0x100 * m

// The bus-wide books of ucap_vcam_usage(-1, ...), in the shape the C++ tests use.
struct BusUsage {
  uint32_t bandwidth_units = 0;  // allocated of the 4915 units of a cycle
  int bandwidth_handles = 0;
  int channels = 0;
  int resources = 0;
};
BusUsage bus_usage();

// What camera `id` is doing with a frame: 0 idle (or unknown id), 1 armed and waiting
// for a trigger pulse, 2 exposing or sending a frame.
int capture_state(int id);

// Size of each of the two frame buffers the driver holds for camera `id` (0: none).
uint32_t frame_buffer_size(int id);

}  // namespace vcam
