#include "platform/seams.h"

#include <atomic>

namespace ucap::platform {

namespace {
std::atomic<int> g_fail_threads{0};
std::atomic<int> g_fail_work{0};
std::atomic<MessageHook> g_hook{nullptr};
std::atomic<void*> g_hook_context{nullptr};

bool take_fault(std::atomic<int>& counter) {
  int n = counter.load();
  while (n > 0) {
    if (counter.compare_exchange_weak(n, n - 1)) return true;
  }
  return false;
}
}  // namespace

void set_message_hook(MessageHook hook, void* context) {
  g_hook_context.store(context);
  g_hook.store(hook);
}

namespace testing {
void fail_thread_creations(int count) { g_fail_threads.store(count); }
void fail_work_allocations(int count) { g_fail_work.store(count); }
}  // namespace testing

namespace detail {
bool thread_creation_fails() { return take_fault(g_fail_threads); }
bool work_allocation_fails() { return take_fault(g_fail_work); }
MessageHook message_hook(void** context) {
  MessageHook hook = g_hook.load();
  *context = g_hook_context.load();
  return hook;
}
}  // namespace detail

}  // namespace ucap::platform
