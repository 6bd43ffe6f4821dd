// What the platform layers share: the message hook and the injected failures of the
// test seams (platform.h, namespace testing).
#pragma once

#include "platform/platform.h"

namespace ucap::platform::detail {

// True when an injected failure is due; each answer of true uses one up.
bool thread_creation_fails();
bool work_allocation_fails();
// The installed message hook (null when none) and, through `context`, its context.
MessageHook message_hook(void** context);

}  // namespace ucap::platform::detail
