// The processing chain: a raw frame as the camera transferred it into the finished image,
// by the plan's resolution, pixel depth, binning and pipeline. A function of the plan, the
// frame, the references, the tables and the work areas only: the acquisition flow, the
// benchmark and the fuzzer all run this one chain.
#pragma once

#include <cstddef>
#include <cstdint>

#include "acquisition/binned_references.h"
#include "acquisition/raw_stages.h"
#include "core/color_table_types.h"
#include "core/plan.h"
#include "core/stage_services.h"

namespace ucap::flow {

// Everything the chain reads besides the plan and the frame.
struct ChainInputs {
  const ColorTables* tables = nullptr;
  ReferenceView references{};
  const uint16_t* binned_black = nullptr;  // pre-binned references (stream, binning >= 2)
  const uint16_t* binned_white = nullptr;
  size_t binned_capacity = 0;
  const uint32_t* blemishes = nullptr;  // null: no blemish correction
  int32_t blemish_count = 0;
  int32_t color_matrix = 0;  // the color-processing switch
  const StageServices* services = nullptr;
};

// Expands packed samples when the plan says the camera sent them packed, then processes
// the frame (`frame_bytes` bytes) whose geometry is the plan's transferred rectangle into
// `out` (transfer_makes() has vouched for its size). The frame is processed in place.
// 0, or 7 when a work image cannot be had (out not written then).
int32_t process_frame(const CapturePlan& plan, uint8_t* frame, size_t frame_bytes, uint16_t* out,
                      const ChainInputs& in);

}  // namespace ucap::flow
