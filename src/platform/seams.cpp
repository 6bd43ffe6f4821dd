// The injected failures of test builds (see platform/seams.h).
#include "platform/seams.h"

#include <atomic>

#include "platform/internal.h"

namespace ucap::platform {

namespace {
std::atomic<int> g_fail_threads{0};
std::atomic<int> g_fail_work{0};

bool take_fault(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}
}  // namespace

namespace testing {
void fail_thread_creations(int count) { g_fail_threads.store(count); }
void fail_work_allocations(int count) { g_fail_work.store(count); }
}  // namespace testing

namespace detail {
bool thread_creation_fails() { return take_fault(g_fail_threads); }
bool work_allocation_fails() { return take_fault(g_fail_work); }
}  // namespace detail

}  // namespace ucap::platform
