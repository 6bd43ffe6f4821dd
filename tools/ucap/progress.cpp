#include "progress.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>

namespace tool {
namespace {

std::atomic<int> presses{0};
std::atomic<bool> shielded{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

extern "C" void on_interrupt(int) {
#ifdef _WIN32
  std::signal(SIGINT, on_interrupt);  // the C runtime resets the handler on every Ctrl-C
#endif
  const int n = presses.fetch_add(1) + 1;
  if (n >= 3 && !shielded.load()) _exit(130);
}

}  // namespace

void install_interrupt_handler() {
#ifdef _WIN32
  std::signal(SIGINT, on_interrupt);
#else
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
#endif
}

int interrupts() { return presses.load(); }

InterruptShield::InterruptShield() { shielded.store(true); }
InterruptShield::~InterruptShield() { shielded.store(false); }

bool stderr_is_terminal() { return isatty(STDERR_FILENO) == 1; }

void StatusLine::show(const std::string& text) {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K%s", text.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void StatusLine::bar(const std::string& label, double done, double total, const char* unit) {
  if (!shown_) return;
  constexpr int kWidth = 30;
  const double share = total > 0 ? std::clamp(done / total, 0.0, 1.0) : 0.0;
  const int filled = static_cast<int>(share * kWidth + 0.5);
  std::string line =
      label + " [" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] ";
  char numbers[64];
  std::snprintf(numbers, sizeof numbers, "%.1f / %.1f %s", done, total, unit);
  show(line + numbers);
}

void StatusLine::clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  drawn_ = false;
}

int32_t progress_callback(int32_t done, int32_t total, int32_t phase, intptr_t user) {
  if (auto* handler = reinterpret_cast<ProgressHandler*>(user); handler != nullptr && *handler) {
    try {
      (*handler)(done, total, phase);
    } catch (...) {
      // Drawing failed; the acquisition goes on.
    }
  }
  return interrupts() > 0 ? 1 : 0;
}

}  // namespace tool
