#include "core/simd.h"

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
}  // namespace

bool avx2() {
  static const bool enabled = detect();
  return enabled;
}

}  // namespace ucap::simd
