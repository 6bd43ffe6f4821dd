// Ctrl-C and the terminal: an interrupt counter that commands poll, a one-line progress bar
// on stderr (drawn only when stderr is a terminal), and the library's progress callback.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace tool {

// Counts Ctrl-C presses from now on; the third press ends the process at once.
void install_interrupt_handler();
int interrupts();

// Holds Ctrl-C back (counted, no effect on the third press) while it lives: for work that
// must not be cut off halfway, such as a firmware download.
class InterruptShield {
 public:
  InterruptShield();
  ~InterruptShield();
  InterruptShield(const InterruptShield&) = delete;
  InterruptShield& operator=(const InterruptShield&) = delete;
};

bool stderr_is_terminal();

// One line that is redrawn in place; quiet when stderr is not a terminal (or when asked).
class StatusLine {
 public:
  explicit StatusLine(bool shown = stderr_is_terminal()) : shown_(shown) {}
  ~StatusLine() { clear(); }
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  bool shown() const { return shown_; }
  void show(const std::string& text);
  // "label [#######---------]  done / total unit"
  void bar(const std::string& label, double done, double total, const char* unit);
  void clear();

 private:
  bool shown_;
  bool drawn_ = false;
};

// What the library's progress callback calls: (elapsed or step, total, phase).
using ProgressHandler = std::function<void(int32_t, int32_t, int32_t)>;

// The library's Ex progress callback; `user` is a ProgressHandler*. It asks the library to
// stop once Ctrl-C has been pressed.
int32_t progress_callback(int32_t done, int32_t total, int32_t phase, intptr_t user);

// Seconds since a start, for rates and stamps.
class Stopwatch {
 public:
  Stopwatch() : start_(std::chrono::steady_clock::now()) {}
  double seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  }

 private:
  std::chrono::steady_clock::time_point start_;
};

}  // namespace tool
