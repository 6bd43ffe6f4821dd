#include "core/gate.h"

#include <chrono>

namespace ucap {

namespace {
// Passes the calling thread holds through GatePass, and ShutRefused scopes it is in.
thread_local int32_t t_passes_held = 0;
// How often a waiting shut-down nudges the waits that no export polls.
constexpr int kNudgeMs = 20;
}  // namespace

bool Gate::enter() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  if (pending_.load() != 0) return false;
  ++passes_;
  return true;
}

void Gate::leave() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  if (--passes_ == 0) changed_.notify_all();
}

bool Gate::shut(void (*nudge)()) noexcept {
  if (t_passes_held != 0) return false;
  std::unique_lock<std::mutex> lock(mutex_);
  pending_.fetch_add(1);
  const auto free = [this] { return passes_ == 0 && !shut_; };
  while (!free()) {
    if (nudge == nullptr) {
      changed_.wait(lock, free);
      break;
    }
    lock.unlock();
    nudge();
    lock.lock();
    changed_.wait_for(lock, std::chrono::milliseconds(kNudgeMs), free);
  }
  shut_ = true;
  return true;
}

void Gate::open() noexcept {
  std::lock_guard<std::mutex> lock(mutex_);
  shut_ = false;
  pending_.fetch_sub(1);
  changed_.notify_all();
}

GatePass::GatePass(Gate& gate) noexcept : gate_(gate), taken_(gate.enter()) {
  if (taken_) ++t_passes_held;
}

GatePass::~GatePass() {
  if (!taken_) return;
  --t_passes_held;
  gate_.leave();
}

ShutRefused::ShutRefused() noexcept { ++t_passes_held; }

ShutRefused::~ShutRefused() { --t_passes_held; }

GateShut::GateShut(Gate& gate, void (*nudge)()) noexcept : gate_(gate), shut_(gate.shut(nudge)) {}

GateShut::~GateShut() {
  if (shut_) gate_.open();
}

}  // namespace ucap
