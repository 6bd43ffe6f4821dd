// Progress callbacks of acquisitions and reference calculations: the caller's callback
// travels with its call (never through the record, so a refused call on another thread
// cannot swap it under a running one).
#pragma once

#include <cstdint>

#include "ucap/ucap.h"

namespace ucap::flow {

// The plain or Ex callback of one call, or none (both null).
struct Progress {
  UcapProgressCallback plain = nullptr;
  UcapProgressCallbackEx ex = nullptr;
  intptr_t user = 0;

  bool none() const { return plain == nullptr && ex == nullptr; }
  // Calls the callback and returns its result unchanged (0 for none).
  int32_t call(int32_t elapsed, int32_t total, int32_t phase) const {
    if (plain != nullptr) return plain(elapsed, total, phase);
    if (ex != nullptr) return ex(elapsed, total, phase, user);
    return 0;
  }
};

inline Progress progress_of(UcapProgressCallback callback) {
  return Progress{callback, nullptr, 0};
}
inline Progress progress_of(UcapProgressCallbackEx callback, intptr_t user) {
  return Progress{nullptr, callback, user};
}

}  // namespace ucap::flow
