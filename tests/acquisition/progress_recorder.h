// Records the calls of a progress callback (Ex form: the user value is the recorder).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace ucap_test {

struct ProgressRecorder {
  std::vector<std::array<int32_t, 3>> calls;
  // Result of call number i (0 = go on); null: always 0.
  std::function<int32_t(size_t)> answer;

  intptr_t user() { return reinterpret_cast<intptr_t>(this); }
  static int32_t callback(int32_t elapsed, int32_t total, int32_t phase, intptr_t user) {
    auto* self = reinterpret_cast<ProgressRecorder*>(user);
    self->calls.push_back({elapsed, total, phase});
    return self->answer ? self->answer(self->calls.size() - 1) : 0;
  }
};

}  // namespace ucap_test
