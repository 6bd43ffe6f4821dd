// What every export shares: the camera index check, the library gate's pass around every
// use of the camera table (core/gate.h), and a guard that keeps C++ exceptions from
// crossing the C boundary.
#pragma once

#include <cstdint>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <utility>

#include "core/errors.h"
#include "core/gate.h"
#include "core/record.h"
#include "core/state.h"

namespace ucap::exports {

// Runs f() and turns any exception into an error code (7 for memory, 8 otherwise).
template <typename F>
auto guarded(F&& f) noexcept -> decltype(f()) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return err::kNoMemory;
  } catch (...) {
    return err::kArgument;
  }
}

// Ucapm exports: 3 when the index names no camera (or a start-up or shut-down is under
// way), else f(record) under a pass of the gate. The Ucap twins that return an error code
// call this with index 0 (3 when there is no camera at all).
template <typename F>
int32_t with_camera(int32_t index, F&& f) noexcept {
  const GatePass pass(state().gate);
  if (!pass) return err::kNoCamera;
  CameraRecord* cam = camera(index);
  if (cam == nullptr) return err::kNoCamera;
  return guarded([&]() -> int32_t { return f(*cam); });
}

// Queries: with_camera with f run under the record's settings lock, so that a settings
// change on another thread is seen whole or not at all.
template <typename F>
int32_t query(int32_t index, F&& f) noexcept {
  return with_camera(index, [&](CameraRecord& cam) -> int32_t {
    const std::shared_lock<std::shared_mutex> lock(cam.settings_lock);
    return f(cam);
  });
}

// Ucapm queries that deliver one value through a pointer: 3 for a bad index, 8 for a
// null pointer, else the value and 0.
template <typename F>
int32_t deliver(int32_t index, int32_t* out, F&& value) noexcept {
  return query(index, [&](CameraRecord& cam) -> int32_t {
    if (out == nullptr) return err::kArgument;
    *out = value(cam);
    return err::kOk;
  });
}

// Exports that return a stored value and check nothing: f(record) under the settings
// lock, or 0 when the index names no camera (or a start-up or shut-down is under way).
template <typename F>
auto value_of(int32_t index, F&& f) noexcept -> decltype(f(std::declval<CameraRecord&>())) {
  const GatePass pass(state().gate);
  CameraRecord* cam = pass ? camera(index) : nullptr;
  if (cam == nullptr) return 0;
  const std::shared_lock<std::shared_mutex> lock(cam->settings_lock);
  return guarded([&] { return f(*cam); });
}

// Ucap exports that return a value: the value for camera 0, or 0 with no camera.
template <typename F>
int32_t value_of_camera0(F&& f) noexcept {
  return value_of(0, f);
}

}  // namespace ucap::exports
