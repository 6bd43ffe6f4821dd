#include "core/bands.h"

#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace ucap::bands {

namespace {

constexpr int32_t kMaxThreads = 64;

int32_t wanted_threads() {
  if (const char* text = std::getenv("UCAP_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end != text && *end == '\0' && n >= 1)
      return static_cast<int32_t>(std::min<long>(n, kMaxThreads));
  }
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int32_t>(cores), 1, kMaxThreads);
}

class Pool {
 public:
  ~Pool() {
#ifndef _WIN32
    // At unloading or process exit the workers are stopped here unless UcapClose did it.
    // (A Windows DLL cannot join threads while the loader tears it down.)
    stop();
#endif
  }

  void start() {
    const std::lock_guard<std::mutex> running(run_lock_);
    std::unique_lock<std::mutex> lock(mutex_);
    if (!workers_.empty()) return;
    const int32_t n = wanted_threads();
    stopping_ = false;
    // Workers wait for the next run after this point (run_lock_ keeps runs out meanwhile).
    const uint64_t now = generation_;
    lock.unlock();
    std::vector<std::thread> workers;
    try {
      for (int32_t i = 1; i < n; ++i) workers.emplace_back(&Pool::work, this, i, now);
    } catch (...) {
      // Fewer workers than wanted: the stages split over those that started.
    }
    lock.lock();
    workers_ = std::move(workers);
    threads_ = static_cast<int32_t>(workers_.size()) + 1;
  }

  void stop() {
    const std::lock_guard<std::mutex> running(run_lock_);
    std::vector<std::thread> workers;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      workers.swap(workers_);
      threads_ = 1;
    }
    wake_.notify_all();
    for (std::thread& t : workers) t.join();
  }

  int32_t threads() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return threads_;
  }

  void run(int32_t count, int32_t grain, int32_t least, void (*job)(void*, int32_t, int32_t),
           void* context) {
    if (count <= 0) return;
    grain = std::max(grain, 1);
    least = std::max(least, 1);
    // Another stage holds the pool (or this is a band of one): this one runs alone.
    std::unique_lock<std::mutex> running(run_lock_, std::try_to_lock);
    int32_t n = 1;
    if (running.owns_lock()) {
      const std::lock_guard<std::mutex> lock(mutex_);
      n = std::min(threads_, std::max(count / least, 1));
    }
    if (n <= 1) {
      job(context, 0, count);
      return;
    }
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      job_ = job;
      context_ = context;
      count_ = count;
      grain_ = grain;
      bands_ = n;
      pending_ = n - 1;
      ++generation_;
    }
    wake_.notify_all();
    int32_t begin, end;
    limits(0, n, count, grain, begin, end);
    job(context, begin, end);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return pending_ == 0; });
  }

 private:
  static void limits(int32_t band, int32_t bands, int32_t count, int32_t grain, int32_t& begin,
                     int32_t& end) {
    const int64_t units = (static_cast<int64_t>(count) + grain - 1) / grain;
    begin = static_cast<int32_t>(std::min<int64_t>(count, units * band / bands * grain));
    end = static_cast<int32_t>(std::min<int64_t>(count, units * (band + 1) / bands * grain));
  }

  void work(int32_t index, uint64_t seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
      if (stopping_) return;
      seen = generation_;
      if (index >= bands_) continue;
      int32_t begin, end;
      limits(index, bands_, count_, grain_, begin, end);
      void (*job)(void*, int32_t, int32_t) = job_;
      void* context = context_;
      lock.unlock();
      if (begin < end) job(context, begin, end);
      lock.lock();
      if (--pending_ == 0) done_.notify_one();
    }
  }

  std::mutex run_lock_;  // held by the stage that uses the workers, and by start and stop
  std::mutex mutex_;     // guards everything below
  std::condition_variable wake_, done_;
  std::vector<std::thread> workers_;
  int32_t threads_ = 1;
  bool stopping_ = false;
  uint64_t generation_ = 0;
  void (*job_)(void*, int32_t, int32_t) = nullptr;
  void* context_ = nullptr;
  int32_t count_ = 0, grain_ = 1, bands_ = 0, pending_ = 0;
};

Pool& pool() {
  static Pool p;
  return p;
}

}  // namespace

void start() { pool().start(); }
void stop() { pool().stop(); }
int32_t threads() { return pool().threads(); }
void run(int32_t count, int32_t grain, int32_t least, void (*job)(void*, int32_t, int32_t),
         void* context) {
  pool().run(count, grain, least, job, context);
}

}  // namespace ucap::bands
