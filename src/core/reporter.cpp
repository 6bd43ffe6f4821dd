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

}  // namespace ucap
