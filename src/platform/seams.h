// Test seams of the platform layer: failures the tests inject into the port. Only the
// library's internal static form carries them (platform/seams.cpp); the product has none,
// and no product code includes this header.
#pragma once

namespace ucap::platform::testing {

// The next `count` thread creations fail.
void fail_thread_creations(int count);
// The next `count` work-buffer allocations fail.
void fail_work_allocations(int count);

}  // namespace ucap::platform::testing
