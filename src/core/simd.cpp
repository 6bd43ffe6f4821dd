#include "core/simd.h"

#include <atomic>
#include <cstdlib>

namespace ucap::simd {

namespace {
bool detect() {
  const char* off = std::getenv("UCAP_NO_AVX2");
  if (off != nullptr && off[0] != '\0') return false;
#if UCAP_HAS_AVX2_BUILD
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") != 0;
#else
  return false;
#endif
}
std::atomic<bool> g_allowed{true};
}  // namespace

bool avx2() {
  static const bool supported = detect();
  return supported && g_allowed.load(std::memory_order_relaxed);
}

void allow_avx2(bool allowed) { g_allowed.store(allowed, std::memory_order_relaxed); }

}  // namespace ucap::simd
