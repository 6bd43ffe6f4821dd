#include "core/reporter.h"

#include <cstdarg>

#include "core/state.h"
#include "platform/platform.h"

namespace ucap {

void report(const char* format, ...) {
  if (state().message_switch.load(std::memory_order_relaxed) == 0) return;
  char buf[256];
  va_list args;
  va_start(args, format);
  platform::format_message(buf, format, args);
  va_end(args);
  platform::show_message(buf);
}

void set_message_switch(int32_t on) { state().message_switch.store(on); }

int32_t message_switch() { return state().message_switch.load(); }

}  // namespace ucap
