// What the processing chain and the binned references read from a camera record: its
// tables, references, blemish list and switches, with the library's work buffers and
// error reporter.
#pragma once

#include "acquisition/raw_stages.h"
#include "core/plan.h"
#include "core/stage_services.h"
#include "flow/chain.h"

namespace ucap {

struct CameraRecord;

// Work areas from the platform's global heap, reports through the error reporter.
const StageServices& library_services();

// The black reference store and white table of the record, with its sensor size.
ReferenceView references_of(const CameraRecord& cam);

namespace flow {

// The chain's inputs for a frame of camera `cam`: its tables, references and pre-binned
// references, the color-processing switch, and its blemish list while the process-wide
// blemish switch is on and the list could be read.
ChainInputs chain_inputs(const CameraRecord& cam);

// Pre-bins the record's references for a stream of `plan`.
void prepare_binned_references(CameraRecord& cam, const CapturePlan& plan);

}  // namespace flow

}  // namespace ucap
