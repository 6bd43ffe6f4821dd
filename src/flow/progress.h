// Progress callbacks of acquisitions and reference calculations: which of the record's
// stored callbacks an operation calls, and the call itself.
#pragma once

#include <cstdint>

#include "core/record.h"
#include "ucap/ucap.h"

namespace ucap::flow {

// kNone: the operation reports no progress; otherwise the stored plain or Ex callback.
enum class Progress { kNone, kPlain, kEx };

// Stores a non-null callback (and the user value) in the record and names it; a null
// callback leaves the stored ones as they were and names none.
inline Progress use_callback(CameraRecord& cam, UcapProgressCallback callback) {
  if (callback == nullptr) return Progress::kNone;
  cam.plain_callback = callback;
  return Progress::kPlain;
}
inline Progress use_callback(CameraRecord& cam, UcapProgressCallbackEx callback, intptr_t user) {
  if (callback == nullptr) return Progress::kNone;
  cam.ex_callback = callback;
  cam.ex_user = user;
  return Progress::kEx;
}

// Calls the named callback and returns its result unchanged (0 for none).
inline int32_t call_progress(const CameraRecord& cam, Progress progress, int32_t elapsed,
                             int32_t total, int32_t phase) {
  switch (progress) {
    case Progress::kPlain:
      return cam.plain_callback != nullptr ? cam.plain_callback(elapsed, total, phase) : 0;
    case Progress::kEx:
      return cam.ex_callback != nullptr ? cam.ex_callback(elapsed, total, phase, cam.ex_user) : 0;
    case Progress::kNone:
      break;
  }
  return 0;
}

}  // namespace ucap::flow
