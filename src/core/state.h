// Process-wide state of the library: the camera count and table with the gate that
// guards them, the switches that are not per camera, and the bus-reset monitor's state.
// Nothing else is global.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/gate.h"
#include "core/record.h"
#include "platform/platform.h"

namespace ucap {

struct ProcessState {
  // Start-up and shut-down change the table, the count and the flag only with the gate
  // shut; everything else reads them while it holds a pass (core/gate.h).
  Gate gate;
  std::atomic<int32_t> camera_count{0};
  CameraRecord* table = nullptr;
  bool initialised = false;

  std::atomic<int32_t> message_switch{1};
  std::atomic<int32_t> blemish_switch{1};

  // The callback and its user value change and are read as one pair, under the guard
  // (held only for the copy, never while the callback runs).
  std::atomic_flag bus_reset_guard;
  std::atomic<UcapBusResetCallback> bus_reset_callback{nullptr};
  std::atomic<uint64_t> bus_reset_user{0};

  std::atomic<int32_t> monitor_stop{0};
  std::atomic<int32_t> monitor_alive{0};  // 1 from the monitor's start until it has ended
  std::atomic<platform::Event*> monitor_event{nullptr};
  platform::Thread* monitor_thread = nullptr;
};

ProcessState& state();

// The record of camera `index`, or null when the index names no camera. The record stays
// valid as long as the caller holds a pass of the gate.
CameraRecord* camera(int32_t index);

}  // namespace ucap
