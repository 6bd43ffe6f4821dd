// What a pixel stage may need from whoever runs it besides pixels, geometry and tables:
// short-lived work areas and a way to report. The stages take it as an argument and touch
// no process state themselves; the library's runs hand in the platform's work buffers and
// the error reporter (flow/stage_adapters.h), tests may hand in their own.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace ucap {

struct StageServices {
  // A zero-filled work area of `bytes` bytes, kept as long as the returned buffer lives;
  // empty when none can be had.
  platform::WorkBuffer (*work_area)(size_t bytes);
  // Shows a message of the catalogue in core/reporter.h.
  void (*report)(const char* format, ...);
};

}  // namespace ucap
