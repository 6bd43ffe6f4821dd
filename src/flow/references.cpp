#include "flow/references.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "calibration/stores.h"
#include "core/errors.h"
#include "core/reporter.h"
#include "core/state.h"
#include "flow/single_shot.h"
#include "platform/platform.h"
#include "settings/exposure.h"

namespace ucap::flow {

namespace {

constexpr int32_t kShortTicks = 1;
constexpr int32_t kLongTicks = 65535;
constexpr int32_t kBlackLevelLimit = 320;
constexpr int32_t kWhiteFrames = 4;
constexpr int32_t kTooBright = 3995;
constexpr int32_t kTooDark = 1023;
constexpr int32_t kMaxGain = 32767;
constexpr int32_t kUnitGain = 4096;

inline int16_t as_signed(uint16_t v) { return static_cast<int16_t>(v); }

// Sensor color of pixel (r, c): 0 red (both even), 2 blue (both odd), 1 green.
inline int color_of(int32_t r, int32_t c) {
  const int odd_r = r & 1, odd_c = c & 1;
  return odd_r == odd_c ? 2 * odd_r : 1;
}

// Mean of all words of the work buffer, read as signed values, truncated.
int32_t mean_level(const uint16_t* buffer, int32_t rows, int32_t width) {
  double total = 0.0;
  for (int32_t r = 0; r < rows; ++r) {
    const uint16_t* row = buffer + static_cast<size_t>(r) * width;
    int32_t sum = 0;
    for (int32_t c = 0; c < width; ++c) sum += as_signed(row[c]);
    total += sum;
  }
  return static_cast<int32_t>(total / (static_cast<double>(rows) * width));
}

// The stored form of the work buffer, modulo 2^16: column offsets taken out of the dark
// signal, both offset rows made relative to the mean column offset, row offsets taken out.
void derive_black_store(CameraRecord& cam, const uint16_t* buffer) {
  const int32_t W = cam.sensor_width, H = cam.sensor_height;
  const size_t stride = static_cast<size_t>(W);
  uint16_t* store = cam.black_store;
  std::memcpy(store, buffer, black_store_words(cam) * sizeof(uint16_t));
  uint16_t* columns = store + static_cast<size_t>(H) * stride;
  uint16_t* rows = columns + stride;
  for (int32_t r = 0; r < H; ++r) {
    uint16_t* row = store + static_cast<size_t>(r) * stride;
    for (int32_t c = 0; c < W; ++c) row[c] = static_cast<uint16_t>(row[c] - columns[c]);
  }
  int32_t sum = 0;
  for (int32_t c = 0; c < W; ++c) sum += as_signed(columns[c]);
  const uint16_t m = static_cast<uint16_t>(static_cast<uint32_t>(sum) / static_cast<uint32_t>(W));
  for (int32_t c = 0; c < W; ++c) columns[c] = static_cast<uint16_t>(columns[c] - m);
  for (int32_t r = 0; r < H; ++r) rows[r] = static_cast<uint16_t>(rows[r] - m);
  for (int32_t r = 0; r < H; ++r) {
    uint16_t* row = store + static_cast<size_t>(r) * stride;
    for (int32_t c = 0; c < W; ++c) row[c] = static_cast<uint16_t>(row[c] - rows[r]);
  }
  cam.black_ref_present = 1;
}

// Column means into row H, row means into the first H words of row H + 1.
void store_means(uint16_t* buffer, int32_t W, int32_t H) {
  const size_t stride = static_cast<size_t>(W);
  uint16_t* columns = buffer + static_cast<size_t>(H) * stride;
  uint16_t* rows = columns + stride;
  for (int32_t c = 0; c < W; ++c) {
    int32_t sum = 0;
    for (int32_t r = 0; r < H; ++r) sum += as_signed(buffer[static_cast<size_t>(r) * stride + c]);
    columns[c] = static_cast<uint16_t>(sum / H);
  }
  for (int32_t r = 0; r < H; ++r) {
    int32_t sum = 0;
    for (int32_t c = 0; c < W; ++c) sum += as_signed(buffer[static_cast<size_t>(r) * stride + c]);
    rows[r] = static_cast<uint16_t>(sum / W);
  }
}

// Bright level of one color: the histogram walked down from the top until 2 % of the
// color's pixels are counted, one bin below the last one added, less the black level.
int32_t bright_level(const int32_t* histogram, int64_t threshold) {
  if (threshold == 0) return 4063;
  int64_t counted = 0;
  int32_t bin = kMaxSample;
  for (; bin > 0; --bin) {
    counted += histogram[bin];
    if (counted >= threshold) break;
  }
  return bin - 33;
}

}  // namespace

int32_t calculate_black_ref(CameraRecord& cam, Progress progress) {
  const Hold hold(cam, Acquisition::kShot);
  if (!hold || cam.busy.load() != 0) return err::kBusy;
  const int32_t W = cam.sensor_width, H = cam.sensor_height;
  const size_t words = black_store_words(cam);
  platform::WorkBuffer work(words * sizeof(uint16_t));
  if (words == 0 || !work) {
    report(msg::kBlackRefMemory, cam.index);
    return err::kNoMemory;
  }
  uint16_t* buffer = work.as<uint16_t>();
  if (getfullframe(cam, buffer, kShortTicks, Pipeline::kRawReference, progress) != 0)
    return err::kAborted;
  store_means(buffer, W, H);
  if (getfullframe(cam, buffer, kLongTicks, Pipeline::kRawReference, progress) != 0)
    return err::kAborted;
  if (mean_level(buffer, H + 2, W) > kBlackLevelLimit) return err::kBlackTooBright;
  const std::lock_guard<std::shared_mutex> lock(cam.settings_lock);
  derive_black_store(cam, buffer);
  return err::kOk;
}

int32_t set_black_ref_from(const void* record, const uint16_t* buffer) {
  const ProcessState& s = state();
  const int32_t count = s.camera_count.load();
  for (int32_t i = 0; i < count; ++i) {
    CameraRecord& cam = s.table[i];
    if (&cam != record) continue;
    if (buffer == nullptr || black_store_words(cam) == 0) return err::kArgument;
    return change_settings(cam, [&] {
      derive_black_store(cam, buffer);
      return err::kOk;
    });
  }
  return err::kNoCamera;
}

int32_t CalculateWhiteRef(CameraRecord& cam, const uint16_t* sum, int32_t n) {
  const int32_t W = cam.sensor_width, H = cam.sensor_height;
  platform::WorkBuffer histograms(3 * (kMaxSample + 1) * sizeof(int32_t));
  if (!histograms) {
    report(msg::kCalculateWhiteRefMemory);
    return err::kNoMemory;
  }
  int32_t* hist[3];
  for (int c = 0; c < 3; ++c) hist[c] = histograms.as<int32_t>() + c * (kMaxSample + 1);
  const size_t stride = static_cast<size_t>(W);
  for (int32_t r = 0; r < H; ++r) {
    for (int32_t c = 0; c < W; ++c) {
      // A sum beyond four 12-bit frames still counts in the top bin.
      ++hist[color_of(r, c)][std::min(sum[r * stride + c] >> 2, kMaxSample)];
    }
  }
  const int64_t N = int64_t{W} * H;
  const int32_t level[3] = {bright_level(hist[0], N / 200), bright_level(hist[1], N / 100),
                            bright_level(hist[2], N / 200)};
  if (std::max({level[0], level[1], level[2]}) > kTooBright) return err::kWhiteTooBright;
  if (std::max({level[0], level[1], level[2]}) < kTooDark) return err::kWhiteTooDark;

  const uint16_t* columns = cam.black_store + static_cast<size_t>(H) * stride;
  for (int32_t r = 0; r < H; ++r) {
    const uint16_t* dark = cam.black_store + r * stride;
    uint16_t* gains = cam.white_table + r * stride;
    for (int32_t c = 0; c < W; ++c) {
      // 64-bit product: a large dark value times a long exposure passes 32 bits.
      const int64_t s = (sum[r * stride + c] >> 2) - ((int64_t{as_signed(dark[c])} * n) >> 16) -
                        as_signed(columns[c]);
      int64_t g = kUnitGain;
      if (s > kBlackLevel)
        g = std::clamp<int64_t>(int64_t{level[color_of(r, c)]} * 4096 / (s - kBlackLevel), 0,
                                kMaxGain);
      gains[c] = static_cast<uint16_t>(g);
    }
  }
  return err::kOk;
}

int32_t calculate_white_ref(CameraRecord& cam, Progress progress) {
  const Hold hold(cam, Acquisition::kShot);
  if (!hold || cam.busy.load() != 0) return err::kBusy;
  const size_t words = white_table_words(cam);
  {
    const std::lock_guard<std::shared_mutex> lock(cam.settings_lock);
    if (cam.black_ref_present == 0 && words != 0)
      std::fill(cam.black_store, cam.black_store + black_store_words(cam), uint16_t{kBlackLevel});
  }
  platform::WorkBuffer frame(words * sizeof(uint16_t));
  platform::WorkBuffer sum(words * sizeof(uint16_t));
  if (words == 0 || !frame || !sum) {
    report(msg::kWhiteRefMemory, cam.index);
    return err::kNoMemory;
  }
  if (progress.call(0, kWhiteFrames, 1) != 0) return err::kAborted;
  const int32_t exposure = cam.exposure;
  uint16_t* total = sum.as<uint16_t>();
  for (int32_t i = 0; i < kWhiteFrames; ++i) {
    if (getfullframe(cam, frame.as<uint16_t>(), exposure_ticks(exposure), Pipeline::kSingleShot,
                     Progress{}) != 0)
      return err::kAborted;
    if (progress.call(i, kWhiteFrames, 2) != 0) return err::kAborted;
    const uint16_t* f = frame.as<uint16_t>();
    for (size_t k = 0; k < words; ++k) total[k] = static_cast<uint16_t>(total[k] + f[k]);
  }
  const int32_t n = std::max(0, exposure_ticks(exposure) - 1);
  const std::lock_guard<std::shared_mutex> lock(cam.settings_lock);
  const int32_t r = CalculateWhiteRef(cam, total, n);
  if (r == err::kOk) cam.white_ref_present = 1;
  return r;
}

}  // namespace ucap::flow
