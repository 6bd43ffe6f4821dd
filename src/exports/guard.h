// What every export shares: the camera index check and a guard that keeps C++
// exceptions from crossing the C boundary.
#pragma once

#include <cstdint>
#include <new>

#include "core/errors.h"
#include "core/record.h"
#include "core/state.h"

namespace ucap::exports {

// Runs f() and turns any exception into an error code (7 for memory, 8 otherwise).
template <typename F>
int32_t guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return err::kNoMemory;
  } catch (...) {
    return err::kArgument;
  }
}

// Ucapm exports: 3 when the index names no camera, else f(record). The Ucap twins that
// return an error code call this with index 0 (3 when there is no camera at all).
template <typename F>
int32_t with_camera(int32_t index, F&& f) noexcept {
  CameraRecord* cam = camera(index);
  if (cam == nullptr) return err::kNoCamera;
  return guarded([&]() -> int32_t { return f(*cam); });
}

// Ucapm queries that deliver one value through a pointer: 3 for a bad index, 8 for a
// null pointer, else the value and 0.
template <typename F>
int32_t deliver(int32_t index, int32_t* out, F&& value) noexcept {
  return with_camera(index, [&](CameraRecord& cam) -> int32_t {
    if (out == nullptr) return err::kArgument;
    *out = value(cam);
    return err::kOk;
  });
}

// Ucap exports that return a value: the value for camera 0, or 0 with no camera.
template <typename F>
int32_t value_of_camera0(F&& f) noexcept {
  CameraRecord* cam = camera(0);
  if (cam == nullptr) return 0;
  return guarded([&]() -> int32_t { return f(*cam); });
}

}  // namespace ucap::exports
