// What the platform layers share besides the port itself: the message hook, and the
// failures that test builds can inject. The product links platform/no_seams.cpp, in which
// no failure is ever due; the library's internal static form links platform/seams.cpp,
// which the tests drive through platform/seams.h.
#pragma once

#include "platform/platform.h"

namespace ucap::platform::detail {

// True when an injected failure is due; each answer of true uses one up.
bool thread_creation_fails();
bool work_allocation_fails();
// The installed message hook (null when none) and, through `context`, its context.
MessageHook message_hook(void** context);

}  // namespace ucap::platform::detail
