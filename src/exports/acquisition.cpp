// Exports of image acquisition: single shots, fast acquisition and the black and white
// reference calculations.
#include "core/errors.h"
#include "core/record.h"
#include "exports/guard.h"
#include "flow/fast_acquisition.h"
#include "flow/progress.h"
#include "flow/references.h"
#include "flow/single_shot.h"
#include "ucap/ucap.h"

using ucap::CameraRecord;
using ucap::exports::guarded;
using ucap::exports::with_camera;
namespace err = ucap::err;
namespace flow = ucap::flow;

extern "C" {

// ---- single shots -------------------------------------------------------------------------

int32_t UcapmAcquisition(int32_t index, uint16_t* image, int32_t size,
                         UcapProgressCallback callback) {
  return with_camera(index, [&](CameraRecord& cam) {
    return flow::DoAcquisition(cam, image, size, flow::progress_of(callback));
  });
}
int32_t UcapAcquisition(uint16_t* image, int32_t size, UcapProgressCallback callback) {
  return UcapmAcquisition(0, image, size, callback);
}

int32_t UcapmAcquisitionEx(int32_t index, uint16_t* image, int32_t size,
                           UcapProgressCallbackEx callback, intptr_t user) {
  return with_camera(index, [&](CameraRecord& cam) {
    return flow::DoAcquisition(cam, image, size, flow::progress_of(callback, user));
  });
}
int32_t UcapAcquisitionEx(uint16_t* image, int32_t size, UcapProgressCallbackEx callback,
                          intptr_t user) {
  return UcapmAcquisitionEx(0, image, size, callback, user);
}

// ---- fast acquisition ---------------------------------------------------------------------

int32_t UcapmStartFastAcquisition(int32_t index) {
  return with_camera(index, [](CameraRecord& cam) { return flow::start_fast_acquisition(cam); });
}
int32_t UcapStartFastAcquisition(void) { return UcapmStartFastAcquisition(0); }

// Answers 1 or 0, and its failures as negated codes.
int32_t UcapmIsFastAcquisitionReady(int32_t index, uint16_t* image, int32_t size, int32_t go_on) {
  int32_t ready = 0;
  const int32_t code = with_camera(index, [&](CameraRecord& cam) {
    ready = flow::fast_acquisition_ready(cam, image, size, go_on);
    return err::kOk;
  });
  return code == err::kOk ? ready : -code;
}
int32_t UcapIsFastAcquisitionReady(uint16_t* image, int32_t size, int32_t go_on) {
  return UcapmIsFastAcquisitionReady(0, image, size, go_on);
}

int32_t UcapmAbortFastAcquisition(int32_t index) {
  return with_camera(index, [](CameraRecord& cam) { return flow::abort_fast_acquisition(cam); });
}
int32_t UcapAbortFastAcquisition(void) { return UcapmAbortFastAcquisition(0); }

// ---- reference calculations -------------------------------------------------------------------

int32_t UcapmCalculateBlackRef(int32_t index, UcapProgressCallback callback) {
  return with_camera(index, [&](CameraRecord& cam) {
    return flow::calculate_black_ref(cam, flow::progress_of(callback));
  });
}
int32_t UcapCalculateBlackRef(UcapProgressCallback callback) {
  return UcapmCalculateBlackRef(0, callback);
}

int32_t UcapmCalculateBlackRefEx(int32_t index, UcapProgressCallbackEx callback, intptr_t user) {
  return with_camera(index, [&](CameraRecord& cam) {
    return flow::calculate_black_ref(cam, flow::progress_of(callback, user));
  });
}
int32_t UcapCalculateBlackRefEx(UcapProgressCallbackEx callback, intptr_t user) {
  return UcapmCalculateBlackRefEx(0, callback, user);
}

int32_t Ucapm_setBlackRef(void* record, const uint16_t* buffer) {
  // Takes a record, not an index: the pass keeps the table that it is looked up in.
  const ucap::GatePass pass(ucap::state().gate);
  if (!pass) return ucap::err::kNoCamera;
  return guarded([&] { return flow::set_black_ref_from(record, buffer); });
}

int32_t UcapmCalculateWhiteRef(int32_t index, UcapProgressCallback callback) {
  return with_camera(index, [&](CameraRecord& cam) {
    return flow::calculate_white_ref(cam, flow::progress_of(callback));
  });
}
int32_t UcapCalculateWhiteRef(UcapProgressCallback callback) {
  return UcapmCalculateWhiteRef(0, callback);
}

int32_t UcapmCalculateWhiteRefEx(int32_t index, UcapProgressCallbackEx callback, intptr_t user) {
  return with_camera(index, [&](CameraRecord& cam) {
    return flow::calculate_white_ref(cam, flow::progress_of(callback, user));
  });
}
int32_t UcapCalculateWhiteRefEx(UcapProgressCallbackEx callback, intptr_t user) {
  return UcapmCalculateWhiteRefEx(0, callback, user);
}

}  // extern "C"
