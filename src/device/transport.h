// Capture transport: set-up (program mode, region, binning, exposure and transfer format;
// reserve bandwidth, a channel and driver resources), buffer hand-over (give the driver a
// frame buffer and wait for the frame) and clean-up (stop and free).
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/record.h"
#include "core/types.h"

namespace ucap::device {

// Each driver frame buffer holds the full sensor at two bytes per pixel plus this.
inline constexpr uint32_t kFrameBufferSlack = 200000;

// Size in bytes of each of the camera's two driver frame buffers. Start-up asks the
// driver for buffers of this size, set-up refuses a camera announcing larger frames, and
// the raw stages unpack in place within it. A negative sensor side counts as 0.
inline size_t frame_buffer_bytes(const CameraRecord& cam) {
  const size_t width = cam.sensor_width > 0 ? static_cast<size_t>(cam.sensor_width) : 0;
  const size_t height = cam.sensor_height > 0 ? static_cast<size_t>(cam.sensor_height) : 0;
  return width * height * 2 + kFrameBufferSlack;
}

// Set-up for camera mode m (0 or 2), the image rectangle, binning b and the exposure in
// ticks (250 us). single_shot: 1 for single shots, 0 for continuous acquisition. Callers
// hold the camera lock and call it only while no transfer is set up. Returns 0, 8, 20,
// 21, 22, 23, 25 or 1031..1042; bandwidth and channel taken before a later step fails are
// given back.
int32_t capture_setup(CameraRecord& cam, int32_t mode, const Rect& rect, int32_t binning,
                      int32_t ticks, int32_t single_shot);

// Hands the given frame buffer to the driver and returns when the frame is in it or the
// wait has ended. 0 or 24.
int32_t hand_over(CameraRecord& cam, const uint8_t* buffer);

// Stops the transfer and frees what set-up reserved. 0, 22, 23, 25, 26 or 1042.
int32_t capture_cleanup(CameraRecord& cam);

// Frees the resources, channel and bandwidth a clean-up (or a failed set-up) was refused to
// free; each one freed is forgotten, each refused again kept. 0, or the first refusal's
// code (23, 25, 22). Only while no transfer is set up; capture_setup calls it first.
int32_t give_back_leftovers(CameraRecord& cam);

}  // namespace ucap::device
