// The pixel kernels exist in two builds: one for every x86-64 processor and, with GCC or
// Clang on x86, one compiled for AVX2. Each kernel file instantiates its loops twice, in
// a plain function and in one marked UCAP_AVX2_BUILD (which inlines the whole loop nest
// so that the vectoriser sees it with AVX2), and picks one per call with simd::avx2().
// Both builds compute every element with the same operations in the same order (no
// contraction into fused multiply-adds), so they give identical images.
#pragma once

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define UCAP_AVX2_BUILD __attribute__((target("avx2"), flatten))
#define UCAP_HAS_AVX2_BUILD 1
#else
#define UCAP_AVX2_BUILD
#define UCAP_HAS_AVX2_BUILD 0
#endif

#if defined(__GNUC__) || defined(__clang__)
#define UCAP_KERNEL inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#define UCAP_KERNEL __forceinline
#else
#define UCAP_KERNEL inline
#endif

namespace ucap::simd {

// Whether the AVX2 builds run: the processor has AVX2 (looked up once), the environment
// variable UCAP_NO_AVX2 was not set (non-empty) at that time, and allow_avx2 has not
// turned them off.
bool avx2();
// Lets the AVX2 builds run where they can (the default) or not; for comparisons of the
// two builds.
void allow_avx2(bool allowed);

}  // namespace ucap::simd
