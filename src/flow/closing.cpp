#include "flow/closing.h"

namespace ucap::flow {

// Nothing asks for a close while an export runs yet.
bool closing_requested() { return false; }

}  // namespace ucap::flow
