// Plain types shared by every subsystem.
#pragma once

#include <cstdint>

namespace ucap {

// Rectangle in pixels; right and bottom exclusive.
struct Rect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  int32_t width() const { return right - left; }
  int32_t height() const { return bottom - top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Largest sensor the camera record is sized for.
inline constexpr int32_t kMaxSensorWidth = 2584;
inline constexpr int32_t kMaxSensorHeight = 1936;
inline constexpr int32_t kMaxBlemishes = 10000;
inline constexpr int32_t kEepromBytes = 2048;
// Black level of corrected samples and the largest 12-bit value.
inline constexpr int32_t kBlackLevel = 32;
inline constexpr int32_t kMaxSample = 4095;

}  // namespace ucap
