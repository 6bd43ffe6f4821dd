// A small pool of worker threads that the full-frame pixel stages split their rows over.
//
// The library starts it with the first cameras (UcapInit) and stops it in UcapClose; its
// size is the number of processors, or the environment variable UCAP_THREADS (1 = every
// stage on the calling thread alone). Idle workers wait on a condition variable. While
// the pool is not running, or already busy with another stage, a stage runs on the
// calling thread. Split or not, each band computes exactly what the whole-frame loop
// computes for its rows.
#pragma once

#include <cstdint>

namespace ucap::bands {

// Starts the workers (threads() - 1 of them) unless they run; stop() ends and joins them.
// Either may be called again later.
void start();
void stop();
// The number of threads a stage may use now: 1 while the pool is stopped.
int32_t threads();

// Calls job(context, begin, end) for contiguous bands that together cover [0, count), on
// the workers and the calling thread, and returns when every band is done. Band limits
// are multiples of `grain`; no band is made of fewer than `least` items.
void run(int32_t count, int32_t grain, int32_t least, void (*job)(void*, int32_t, int32_t),
         void* context);

template <typename Job>
void for_bands(int32_t count, int32_t grain, int32_t least, const Job& job) {
  run(
      count, grain, least,
      [](void* context, int32_t begin, int32_t end) {
        (*static_cast<const Job*>(context))(begin, end);
      },
      const_cast<Job*>(&job));
}

}  // namespace ucap::bands
