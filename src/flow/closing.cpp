#include "flow/closing.h"

#include "core/state.h"
#include "flow/frame_worker.h"

namespace ucap::flow {

bool closing_requested() { return state().gate.closing(); }

void cancel_pending_frames() {
  ProcessState& s = state();
  // The table stays while a shut-down waits: only that shut-down frees it.
  const int32_t count = s.camera_count.load();
  for (int32_t i = 0; i < count && s.table != nullptr; ++i) {
    CameraRecord& cam = s.table[i];
    if (cam.busy.load() != 0) cancel_exposure(cam);
  }
}

void release_transfers() {
  ProcessState& s = state();
  const int32_t count = s.camera_count.load();
  for (int32_t i = 0; i < count && s.table != nullptr; ++i) {
    CameraRecord& cam = s.table[i];
    if (cam.transfer_active.load() > 0) clean_up_transfer(cam);
    give_back_leftovers(cam);
    cam.acquisition.reset();
  }
}

}  // namespace ucap::flow
