// One camera on the live page: a thread of its own that keeps a fast acquisition running and
// publishes the newest frame, and runs everything else that needs the camera (settings,
// snap, record, calibration, reference files) between two frames with the stream stopped.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "image_files.h"
#include "reference_file.h"
#include "serve_preview.h"
#include "session.h"

namespace tool {

// A frame as the page's streams take it: shared, never changed after it is published.
struct LiveFrame {
  uint64_t number = 0;     // frames of this camera published since the server started
  int64_t arrived_ms = 0;  // when it arrived, milliseconds since 1970 (for the page's latency)
  Image image;             // RGB order
  std::shared_ptr<const ImageInfo> info;
  Box focus_region;
  // Statistics, computed once by the first stream that shows the frame.
  const ImageStats& stats() const;

 private:
  mutable std::once_flag once_;
  mutable ImageStats stats_;
};

// A job that runs in the background on the camera thread: recording or calibrating.
struct JobState {
  std::string kind;  // "record", "black", "white" or empty
  bool running = false;
  double done = 0, total = 0;
  std::string unit;    // "frames", "s"
  std::string result;  // file written, when it finished well
  std::string error;   // why it failed
};

struct LiveStatus {
  std::string state;  // "live", "stopped", "idle" (nobody watches), "unplugged", "error"
  std::string message;
  uint64_t frames = 0, dropped = 0;
  double rate = 0;  // frames per second over the last frames
  JobState job;
};

class LiveCamera {
 public:
  LiveCamera(const Session& owner, int index);
  ~LiveCamera();
  LiveCamera(const LiveCamera&) = delete;
  LiveCamera& operator=(const LiveCamera&) = delete;

  int index() const { return session_.index(); }
  const Session& session() const { return session_; }

  // The newest frame after frame number `after`, waiting up to `timeout`; null when none came.
  std::shared_ptr<const LiveFrame> next_frame(uint64_t after, std::chrono::milliseconds timeout);
  LiveStatus status() const;
  // The camera's settings as the camera thread last read them (JSON text).
  std::string settings() const;

  // Runs `work` on the camera thread with the stream stopped, waits for it and throws a
  // Failure with the message of what it threw; the stream starts again afterwards (with the
  // settings read anew).
  void run(const std::function<void()>& work);
  // Queues `work` the same way without waiting.
  void post(std::function<void()> work);

  // Background jobs (a recording, a calibration): one at a time.
  bool begin_job(const std::string& kind, const std::string& unit, double total);
  void progress(double done, double total);
  void end_job(const std::string& result, const std::string& error);
  void stop_job() { stop_job_.store(true); }
  bool stop_requested() const { return stop_job_.load() || quit_.load(); }

  // On the camera thread: hands every new frame to `sink` until it returns false.
  void tap(std::function<bool(const LiveFrame&)> sink) { tap_ = std::move(sink); }
  void set_focus_region(Box region);

  // Someone looks at the stream while the returned token lives. A camera nobody has looked at
  // for a moment stops its stream (streams of several cameras share the bus's bandwidth).
  std::shared_ptr<void> watch();

 private:
  void loop();
  bool start_stream();
  void stop_stream();
  void publish(std::vector<uint16_t>& words);
  void fail(const std::string& state, const std::string& message);
  std::string read_settings() const;

  Session session_;
  std::atomic<bool> quit_{false}, stop_job_{false};
  std::atomic<int> viewers_{0};
  std::atomic<int64_t> last_viewed_ms_;

  mutable std::mutex mutex_;  // guards everything down to the camera thread's own
  std::condition_variable frame_ready_;
  std::shared_ptr<const LiveFrame> newest_;
  std::deque<std::function<void()>> work_;
  LiveStatus status_;
  std::string settings_ = "{}";
  Box focus_region_{0, 0, 1 << 30, 1 << 30};
  std::deque<double> times_;

  // The camera thread's own.
  bool streaming_ = false;
  std::shared_ptr<const ImageInfo> info_;
  std::function<bool(const LiveFrame&)> tap_;
  std::thread thread_;
};

}  // namespace tool
