#include "core/state.h"

namespace ucap {

ProcessState& state() {
  static ProcessState s;
  return s;
}

CameraRecord* camera(int32_t index) {
  ProcessState& s = state();
  int32_t count = s.camera_count.load(std::memory_order_acquire);
  if (index < 0 || index >= count || s.table == nullptr) return nullptr;
  return &s.table[index];
}

}  // namespace ucap
