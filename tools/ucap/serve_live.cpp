#include "serve_live.h"

#include <nlohmann/json.hpp>

#include <tuple>

#include "capture.h"
#include "errors.h"
#include "progress.h"
#include "ucap/ucap.h"

namespace tool {
namespace {

using Clock = std::chrono::steady_clock;

double now_seconds() {
  static const Clock::time_point start = Clock::now();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

int64_t now_ms() { return static_cast<int64_t>(now_seconds() * 1000); }

// A stream nobody watches stops after this long.
constexpr int64_t kIdleMs = 1500;

bool gone(int32_t code) { return code == UCAP_ERR_NO_CAMERA || code == UCAP_ERR_NOT_ATTACHED; }

}  // namespace

const ImageStats& LiveFrame::stats() const {
  std::call_once(once_, [this] { stats_ = analyse(image, focus_region); });
  return stats_;
}

LiveCamera::LiveCamera(const Session& owner, int index)
    : session_(owner, index), last_viewed_ms_(now_ms()) {
  status_.state = "stopped";
  thread_ = std::thread([this] { loop(); });
}

LiveCamera::~LiveCamera() {
  quit_.store(true);
  thread_.join();
}

std::shared_ptr<const LiveFrame> LiveCamera::next_frame(uint64_t after,
                                                        std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  frame_ready_.wait_for(lock, timeout,
                        [&] { return quit_.load() || (newest_ && newest_->number > after); });
  return newest_ && newest_->number > after ? newest_ : nullptr;
}

LiveStatus LiveCamera::status() const {
  std::lock_guard lock(mutex_);
  LiveStatus status = status_;
  const double now = now_seconds();
  // The rate of the last two seconds; none when the stream stands.
  size_t recent = 0;
  double first = now;
  for (double t : times_)
    if (t > now - 2.0) ++recent, first = std::min(first, t);
  status.rate = recent > 1 && times_.back() > first
                    ? static_cast<double>(recent - 1) / (times_.back() - first)
                    : 0;
  return status;
}

std::string LiveCamera::settings() const {
  std::lock_guard lock(mutex_);
  return settings_;
}

void LiveCamera::post(std::function<void()> work) {
  std::lock_guard lock(mutex_);
  work_.push_back(std::move(work));
}

void LiveCamera::run(const std::function<void()>& work) {
  // What went wrong travels back as text: an exception object is not shared between threads.
  auto done = std::make_shared<std::promise<std::optional<std::string>>>();
  std::future<std::optional<std::string>> result = done->get_future();
  post([this, &work, done] {
    std::optional<std::string> failure;
    try {
      work();
    } catch (const std::exception& e) {
      failure = e.what();
    }
    // The caller sees the settings as the work left them.
    const std::string settings = read_settings();
    {
      std::lock_guard lock(mutex_);
      settings_ = settings;
    }
    done->set_value(std::move(failure));
  });
  std::optional<std::string> failure;
  try {
    failure = result.get();
  } catch (const std::future_error&) {
    failure = "the server is stopping";
  }
  if (failure) throw Failure(*failure);
}

bool LiveCamera::begin_job(const std::string& kind, const std::string& unit, double total) {
  std::lock_guard lock(mutex_);
  if (status_.job.running) return false;
  stop_job_.store(false);
  status_.job = JobState{kind, true, 0, total, unit, "", ""};
  return true;
}

void LiveCamera::progress(double done, double total) {
  std::lock_guard lock(mutex_);
  status_.job.done = done;
  status_.job.total = total;
}

void LiveCamera::end_job(const std::string& result, const std::string& error) {
  std::lock_guard lock(mutex_);
  status_.job.running = false;
  status_.job.result = result;
  status_.job.error = error;
}

std::shared_ptr<void> LiveCamera::watch() {
  viewers_.fetch_add(1);
  return std::shared_ptr<void>(nullptr, [this](void*) {
    last_viewed_ms_.store(now_ms());
    viewers_.fetch_sub(1);
  });
}

void LiveCamera::set_focus_region(Box region) {
  std::lock_guard lock(mutex_);
  focus_region_ = region;
}

void LiveCamera::fail(const std::string& state, const std::string& message) {
  std::lock_guard lock(mutex_);
  status_.state = state;
  status_.message = message;
}

std::string LiveCamera::read_settings() const {
  const int i = index();
  nlohmann::json s;
  UcapRect roi{};
  int32_t binning = 1, exposure = 0, min_us = 0, max_us = 0, step_us = 0, color = 0, black = 0,
          white = 0, has_black = 0, has_white = 0, w = 0, h = 0;
  double wb[3] = {0, 0, 0};
  UcapmGetCurrentImageSize(i, &roi);
  UcapmGetCurrentBinning(i, &binning);
  UcapmGetCurrentExposure(i, &exposure);
  UcapmGetExposureRange(i, &min_us, &max_us, &step_us);
  UcapmIsColorProcessingEnabled(i, &color);
  UcapmGetCurrentWhiteBalance(i, &wb[0], &wb[1], &wb[2]);
  UcapmGetCurrentBlackRef(i, &black);
  UcapmGetCurrentWhiteRef(i, &white);
  UcapmHasBlackRef(i, &has_black);
  UcapmHasWhiteRef(i, &has_white);
  UcapmGetCurrentDataSize(i, &w, &h);
  nlohmann::json resolutions = nlohmann::json::array();
  for (int r = 0; r < UcapmGetNumberOfResolutions(i); ++r) {
    int32_t rw = 0, rh = 0, third = 0;
    UcapmGetResolutionValues(i, r, &rw, &rh, &third);
    resolutions.push_back({{"width", rw}, {"height", rh}});
  }
  UcapInfoRecord info{};
  UcapmInfo(i, &info);
  s = {{"camera", i},
       {"camera_id", session_.camera_id()},
       {"sensor", {session_.sensor_width(), session_.sensor_height()}},
       {"resolution", UcapmGetCurrentResolution(i)},
       {"resolutions", resolutions},
       {"bits", UcapmGetCurrentBitsPerPixel(i)},
       {"binning", binning},
       {"roi", {roi.left, roi.top, roi.right, roi.bottom}},
       {"exposure_us", exposure},
       {"exposure_range_us", {min_us, max_us, step_us}},
       {"color_processing", color != 0},
       {"white_balance", {wb[0], wb[1], wb[2]}},
       {"black_ref", black != 0},
       {"white_ref", white != 0},
       {"has_black_ref", has_black != 0},
       {"has_white_ref", has_white != 0},
       {"data_size", {w, h}}};
  return s.dump();
}

bool LiveCamera::start_stream() {
  const int i = index();
  if (i >= UcapGetNumberofCameras()) {
    fail("unplugged", "camera " + std::to_string(i) + " is not attached; waiting for it");
    return false;
  }
  try {
    // A stream started again with the same settings (after a frame that never came, or after
    // the library's new start) keeps its image information, so a recording goes on through it.
    ImageInfo info = current_image_info(session_);
    const auto key = [](const ImageInfo& i) {
      return std::tie(i.width, i.height, i.channels, i.resolution, i.bits, i.binning, i.exposure_us,
                      i.region.left, i.region.top, i.region.right, i.region.bottom, i.camera_id);
    };
    if (!info_ || key(info) != key(*info_))
      info_ = std::make_shared<const ImageInfo>(std::move(info));
    const std::string settings = read_settings();
    std::lock_guard lock(mutex_);
    settings_ = settings;
  } catch (const Failure& failure) {
    fail("error", failure.what());
    return false;
  }
  const int32_t rc = UcapmStartFastAcquisition(i);
  if (rc != UCAP_OK) {
    fail(gone(rc) ? "unplugged" : "error", "starting the stream: " + describe_code(rc));
    return false;
  }
  streaming_ = true;
  fail("live", "");
  return true;
}

void LiveCamera::stop_stream() {
  if (!streaming_) return;
  UcapmAbortFastAcquisition(index());
  streaming_ = false;
}

void LiveCamera::publish(std::vector<uint16_t>& words) {
  auto frame = std::make_shared<LiveFrame>();
  frame->arrived_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  frame->image = Image{info_->width, info_->height, info_->channels, std::move(words)};
  words.assign(frame->image.words.size(), 0);
  if (frame->image.channels == 3) bgr_to_rgb(frame->image.words);
  frame->info = info_;
  if (tap_ && !tap_(*frame)) tap_ = nullptr;
  std::lock_guard lock(mutex_);
  frame->focus_region = focus_region_;
  frame->number = ++status_.frames;
  times_.push_back(now_seconds());
  if (times_.size() > 64) times_.pop_front();
  newest_ = std::move(frame);
  frame_ready_.notify_all();
}

void LiveCamera::loop() {
  const int i = index();
  std::vector<uint16_t> words;
  auto rest = [this](int ms) {
    for (int waited = 0; waited < ms && !quit_.load(); waited += 10) {
      {
        std::lock_guard lock(mutex_);
        if (!work_.empty()) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  };
  while (!quit_.load()) {
    std::function<void()> work;
    {
      std::lock_guard lock(mutex_);
      if (!work_.empty()) {
        work = std::move(work_.front());
        work_.pop_front();
      }
    }
    if (work) {
      stop_stream();
      work();
      continue;
    }
    if (viewers_.load() == 0 && !tap_ && now_ms() - last_viewed_ms_.load() > kIdleMs) {
      if (streaming_) {
        stop_stream();
        fail("idle", "nobody is watching this camera");
      }
      rest(50);
      continue;
    }
    if (!streaming_) {
      if (!start_stream()) {
        rest(500);
        continue;
      }
      words.assign(static_cast<size_t>(info_->width) * info_->height * info_->channels, 0);
    }
    const int32_t ready =
        UcapmIsFastAcquisitionReady(i, words.data(), static_cast<int32_t>(words.size() * 2), 1);
    if (ready == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (ready < 0) {
      // The library has ended the stream. A frame that never came is counted and the stream
      // starts again; anything else is shown until a new start succeeds.
      UcapmAbortFastAcquisition(i);
      streaming_ = false;
      if (-ready == UCAP_ERR_CAPTURE_WAIT) {
        std::lock_guard lock(mutex_);
        ++status_.dropped;
        continue;
      }
      fail(gone(-ready) || i >= UcapGetNumberofCameras() ? "unplugged" : "error",
           "stream: " + describe_code(-ready));
      if (tap_) {  // a recording ends with its stream
        tap_ = nullptr;
        end_job("", "stream: " + describe_code(-ready));
      }
      rest(500);
      continue;
    }
    publish(words);
  }
  stop_stream();
  if (tap_) tap_ = nullptr;
  std::lock_guard lock(mutex_);
  frame_ready_.notify_all();
  // Work still queued is never run: its callers learn so (a broken promise).
  work_.clear();
}

}  // namespace tool
