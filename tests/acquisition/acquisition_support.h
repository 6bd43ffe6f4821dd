// Shared by the acquisition suites: a camera with a small noise-free sensor on a fast
// clock, the capture settings the interface allows, and the image the stages make from
// the camera's own noise-free raw frame.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "acquisition/frame_stages.h"
#include "acquisition/raw_stages.h"
#include "color/interpolation.h"
#include "core/record.h"
#include "core/state.h"
#include "flow/stage_adapters.h"
#include "platform/seams.h"
#include "support/camera_fixture.h"
#include "support/messages.h"
#include "ucap/ucap.h"
#include "ucap/vcam.h"
#include "vcam/probe.h"
#include "vcam/sensor.h"

namespace ucap_test {

// One allowed combination of resolution, pixel depth and binning.
struct Setting {
  int resolution, bits, binning;
};
inline const Setting kSettings[] = {
    {0, 36, 1}, {1, 36, 1}, {1, 36, 3}, {1, 36, 5}, {1, 12, 1}, {1, 12, 2}, {1, 12, 4},
    {2, 36, 1}, {2, 36, 2}, {2, 36, 3}, {2, 36, 4}, {2, 36, 5}, {3, 12, 1}};
inline std::string setting_name(const ::testing::TestParamInfo<Setting>& info) {
  const Setting& s = info.param;
  char name[48];
  std::snprintf(name, sizeof name, "r%d_%dbit_b%d", s.resolution, s.bits, s.binning);
  return name;
}

// Sensor of 200 x 160 pixels, exact frames, a clock 20 times faster than real time (the
// capture wait's time-out, 3.1 s at the start exposure, stays far above a scheduling
// hiccup).
inline constexpr char kFastCamera[] = "sensor=200x160 noise=0 timescale=20";

class AcquisitionTest : public CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {config()}; }
  virtual std::string config() const { return kFastCamera; }

 public:
  static ucap::CameraRecord& record() { return *ucap::camera(0); }

  static void apply(const Setting& s) {
    ASSERT_EQ(UcapSetResolution(s.resolution), 0);
    ASSERT_EQ(UcapSetBitsPerPixel(s.bits), 0);
    ASSERT_EQ(UcapSetBinning(s.binning), 0);
  }

  // Bytes of the image the current settings deliver, as the data size tells it.
  static int32_t data_bytes() {
    int32_t w = 0, h = 0;
    EXPECT_EQ(UcapGetCurrentDataSize(&w, &h), 0);
    return w * h * (UcapGetCurrentBitsPerPixel() == 12 ? 2 : 6);
  }
};

// A buffer of `bytes` image bytes followed by guard bytes, all filled with `seed`-made
// words; image() is what the acquisition wrote.
class Buffer {
 public:
  static constexpr size_t kGuardWords = 32;
  Buffer(int32_t bytes, uint16_t seed) : bytes_(bytes), words_((bytes + 1) / 2 + kGuardWords) {
    for (size_t i = 0; i < words_.size(); ++i) words_[i] = static_cast<uint16_t>(seed + 7919 * i);
    pristine_ = words_;
  }
  uint16_t* data() { return words_.data(); }
  int32_t size() const { return bytes_; }
  std::vector<uint16_t> image() const {
    return std::vector<uint16_t>(words_.begin(), words_.begin() + bytes_ / 2);
  }
  bool untouched() const { return words_ == pristine_; }
  bool tail_untouched() const {
    return std::equal(words_.begin() + bytes_ / 2, words_.end(), pristine_.begin() + bytes_ / 2);
  }

 private:
  int32_t bytes_;
  std::vector<uint16_t> words_, pristine_;
};

// The image the stages make from the camera's noise-free raw frame for the record's
// settings and image rectangle (no references, no blemishes). `stream`: the stages of
// fast acquisition.
inline std::vector<uint16_t> expected_image(int id, bool stream) {
  using namespace ucap;
  const CameraRecord& cam = *camera(0);
  const Rect& r = cam.image_rect;
  const int res = cam.resolution, b = cam.binning;
  vcam::FrameGeometry g{res <= 1 ? 0 : 2, b, r.left, r.top, r.width(), r.height(),
                        static_cast<uint32_t>(cam.exposure / 250)};
  std::vector<uint16_t> raw;
  EXPECT_TRUE(vcam::expected_frame(id, g, &raw));
  const int W = g.width, H = vcam::transferred_rows(g);
  const ColorTables& t = cam.tables;
  const int32_t matrix = cam.color_processing.load();
  const Rect frame{0, 0, W, H};
  std::vector<uint16_t> out;
  if (res == 0) {
    std::vector<uint16_t> doubled(2 * W * H);
    double_rows(doubled.data(), raw.data(), W, H);
    out.resize(6 * W * H);
    if (stream) {
      InterpolateBlocks(t, out.data(), doubled.data(), Rect{0, 0, W, 2 * H});
    } else {
      InterpolateColor(t, out.data(), doubled.data(), Rect{0, 0, W, 2 * H}, 2, library_services());
    }
    ApplyColorMatrix(t, matrix, out.data(), 2 * W * H);
  } else if (res == 1) {
    if (b == 1) CorrectSmear(raw.data(), W, H);
    const int Q = W / (2 * b);
    if (b % 2 == 0) {
      out.resize(Q * H);
      AssembleHalfMono(out.data(), raw.data(), b, frame);
      return out;
    }
    std::vector<uint16_t> color(3 * Q * H);
    AssembleHalfColor(t, color.data(), raw.data(), b, frame);
    if (H % 2 == 1) {  // the last row pairs with the row above it
      std::vector<uint16_t> rows(raw.end() - W, raw.end());
      rows.insert(rows.end(), raw.end() - 2 * W, raw.end() - W);
      std::vector<uint16_t> pair(6 * Q);
      AssembleHalfColor(t, pair.data(), rows.data(), b, Rect{0, 0, W, 2});
      std::copy(pair.begin(), pair.begin() + 3 * Q, color.end() - 3 * Q);
    }
    if (cam.bits_per_pixel == 12) {
      out.resize(Q * H);
      grey_from_color(out.data(), color.data(), Q * H);
    } else {
      ApplyColorMatrix(t, matrix, color.data(), Q * H);
      out = color;
    }
  } else if (res == 2) {
    out.resize(3 * (W / b) * H);
    if (b == 1) {
      InterpolateColor(t, out.data(), raw.data(), frame, stream ? 1 : 2, library_services());
    } else {
      InterpolateBinned(t, out.data(), raw.data(), frame, b, library_services());
    }
    ApplyColorMatrix(t, matrix, out.data(), W * H / b);
  } else {
    CorrectSmear(raw.data(), W, H);
    out = raw;
  }
  return out;
}

}  // namespace ucap_test
