// The product's platform layer: no failure is ever injected (test builds link
// platform/seams.cpp instead).
#include "platform/internal.h"

namespace ucap::platform::detail {

bool thread_creation_fails() { return false; }
bool work_allocation_fails() { return false; }

}  // namespace ucap::platform::detail
