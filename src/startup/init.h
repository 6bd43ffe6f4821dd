// Library start-up and shut-down.
#pragma once

#include <cstdint>

namespace ucap {

int32_t initialise();
int32_t close_library();

}  // namespace ucap
