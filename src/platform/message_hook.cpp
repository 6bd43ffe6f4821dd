// The message hook, shared by the platform layers: a host (or a test) may take the
// reporter's lines instead of the default output.
#include <atomic>

#include "platform/internal.h"

namespace ucap::platform {

namespace {
std::atomic<MessageHook> g_hook{nullptr};
std::atomic<void*> g_hook_context{nullptr};
}  // namespace

void set_message_hook(MessageHook hook, void* context) {
  g_hook_context.store(context);
  g_hook.store(hook);
}

MessageHook detail::message_hook(void** context) {
  MessageHook hook = g_hook.load();
  *context = g_hook_context.load();
  return hook;
}

}  // namespace ucap::platform
