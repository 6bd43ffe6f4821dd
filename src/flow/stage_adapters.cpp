#include "flow/stage_adapters.h"

#include "acquisition/binned_references.h"
#include "core/record.h"
#include "core/reporter.h"
#include "core/state.h"
#include "platform/platform.h"

namespace ucap {

namespace {

platform::WorkBuffer global_work_area(size_t bytes) { return platform::WorkBuffer(bytes); }

constexpr StageServices kLibraryServices{&global_work_area, &report};

}  // namespace

const StageServices& library_services() { return kLibraryServices; }

ReferenceView references_of(const CameraRecord& cam) {
  return ReferenceView{cam.black_store, cam.white_table, cam.sensor_width, cam.sensor_height};
}

namespace flow {

ChainInputs chain_inputs(const CameraRecord& cam) {
  ChainInputs in;
  in.tables = &cam.tables;
  in.references = references_of(cam);
  in.binned_black = cam.binned_black;
  in.binned_white = cam.binned_white;
  in.binned_capacity = kBinnedRefWords;
  if (state().blemish_switch.load() != 0 && cam.blemish_list_valid != 0) {
    in.blemishes = cam.blemishes;
    in.blemish_count = cam.blemish_count;
  }
  in.color_matrix = cam.color_processing.load();
  in.services = &library_services();
  return in;
}

void prepare_binned_references(CameraRecord& cam, const CapturePlan& plan) {
  PrepareBinnedReferences(references_of(cam),
                          BinnedReferences{cam.binned_black, cam.binned_white, kBinnedRefWords},
                          plan.ticks, plan.image, plan.binning, plan.black != 0, plan.white != 0);
}

}  // namespace flow

}  // namespace ucap
