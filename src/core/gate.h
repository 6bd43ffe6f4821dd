// The library gate: orders start-up and shut-down (UcapInit, UcapClose) against each other
// and against every export that works on the camera table.
//
// The rule:
// - An export that uses the camera table holds a pass for as long as it does (the export
//   guard, exports/guard.h, takes it). Start-up and shut-down shut the gate: they wait
//   until every pass has been returned, and one of them runs at a time.
// - From the moment a start-up or shut-down asks for the gate until it has opened it
//   again, no pass is given: exports answer 3 then, as they do before UcapInit, and
//   closing() is true.
// - Shut-down therefore waits for the exports already running. Whatever may keep a pass
//   for long (an exposure of up to 60 s, a frame wait, a fast acquisition's worker between
//   two calls) must watch closing() at each of its polls and end promptly when it turns
//   true; UcapClose waits for it otherwise.
// - A pass is not tied to a thread: an export may take one with enter() for a worker it
//   starts, and the worker returns it with leave() when it ends.
// - A start-up or shut-down asked for by a thread that holds an export's pass (an
//   application callback called inside an export) would wait for itself: it is refused.
//   So is one asked for by the bus-reset callback, which a shut-down waits for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace ucap {

class Gate {
 public:
  // Takes a pass; false, with none taken, while a start-up or shut-down waits or runs.
  bool enter() noexcept;
  // Returns a pass taken by enter(), from any thread.
  void leave() noexcept;
  // True while a start-up or shut-down waits for the gate or runs.
  bool closing() const noexcept { return pending_.load() != 0; }

 private:
  friend class GatePass;
  friend class GateShut;
  bool shut(void (*nudge)()) noexcept;
  void open() noexcept;

  std::mutex mutex_;
  std::condition_variable changed_;
  int32_t passes_ = 0;
  bool shut_ = false;
  std::atomic<int32_t> pending_{0};  // start-ups and shut-downs waiting or running
};

// An export's pass for the lifetime of the object; false when none was given.
class GatePass {
 public:
  explicit GatePass(Gate& gate) noexcept;
  ~GatePass();
  GatePass(const GatePass&) = delete;
  GatePass& operator=(const GatePass&) = delete;
  explicit operator bool() const noexcept { return taken_; }

 private:
  Gate& gate_;
  bool taken_;
};

// A scope in which the calling thread may not shut the gate (it would wait for itself),
// though it holds no pass: the bus-reset monitor around the application's callback.
class ShutRefused {
 public:
  ShutRefused() noexcept;
  ~ShutRefused();
  ShutRefused(const ShutRefused&) = delete;
  ShutRefused& operator=(const ShutRefused&) = delete;
};

// Start-up or shut-down: the gate shut for the lifetime of the object, once every pass has
// been returned; false (nothing waited for) when the calling thread holds a pass. While it
// waits, `nudge` (if given) is called every few milliseconds, without the gate's mutex, to
// end waits that no export polls (a stream's frame worker between two calls).
class GateShut {
 public:
  explicit GateShut(Gate& gate, void (*nudge)() = nullptr) noexcept;
  ~GateShut();
  GateShut(const GateShut&) = delete;
  GateShut& operator=(const GateShut&) = delete;
  explicit operator bool() const noexcept { return shut_; }

 private:
  Gate& gate_;
  bool shut_;
};

}  // namespace ucap
