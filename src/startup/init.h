// Library start-up and shut-down, and the information words start-up reads.
#pragma once

#include <cstdint>

#include "ucap/ucap.h"

namespace ucap {

struct CameraRecord;

// UcapInit and UcapClose. Both shut the library gate (core/gate.h) while they run; asked
// for by a thread that holds one of its passes they do nothing and return 3.
int32_t initialise();
int32_t close_library();

// The information record of a started camera: 8 for a null record, else 0.
int32_t fill_information(const CameraRecord& cam, UcapInfoRecord* info);

}  // namespace ucap
