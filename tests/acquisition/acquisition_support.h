// Shared by the acquisition suites: a small exact camera on a fast clock, the allowed
// settings, buffers that show every word written, progress recording, and the image the
// processing chain makes from the camera's own noise-free raw frame.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/state.h"
#include "flow/chain.h"
#include "flow/image_size.h"
#include "flow/stage_adapters.h"
#include "platform/seams.h"
#include "support/camera_fixture.h"
#include "support/messages.h"
#include "support/trace.h"
#include "ucap/vcam.h"
#include "vcam/sensor.h"

namespace ucap_test {

struct Setting {  // an allowed combination of resolution, pixel depth and binning
  int resolution, bits, binning;
};
inline const Setting kSettings[] = {{0, 36, 1}, {1, 36, 1}, {1, 36, 3}, {1, 36, 5}, {1, 12, 1},
                                    {1, 12, 2}, {1, 12, 4}, {2, 36, 1}, {2, 36, 2}, {2, 36, 3},
                                    {2, 36, 4}, {2, 36, 5}, {3, 12, 1}};

// Parameterized cases are named after the `name` field of their row.
inline constexpr auto kByName = [](const auto& info) { return std::string(info.param.name); };

// A sensor of 200 x 160 pixels, exact frames, a clock 20 times faster than real time.
class AcquisitionTest : public CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {config()}; }
  virtual std::string config() const { return "sensor=200x160 noise=0 timescale=20"; }
  // Whatever a test did, closing the library gives every driver resource back.
  void TearDown() override {
    UcapClose();
    UcapVcamUsage u{};
    ASSERT_EQ(ucap_vcam_usage(ids[0], &u), 0);
    EXPECT_EQ(u.handles + u.notifications + u.frame_buffers + u.bandwidth_handles + u.channels +
                  u.resources,
              0);
    CameraTest::TearDown();
  }

 public:
  static ucap::CameraRecord& record() { return *ucap::camera(0); }
  static void apply(const Setting& s) {
    ASSERT_EQ(
        UcapSetResolution(s.resolution) + UcapSetBitsPerPixel(s.bits) + UcapSetBinning(s.binning),
        0);
  }
  // Bytes of the image the current settings deliver, as the data size tells it.
  static int32_t data_bytes() {
    int32_t w = 0, h = 0;
    EXPECT_EQ(UcapGetCurrentDataSize(&w, &h), 0);
    return w * h * (UcapGetCurrentBitsPerPixel() == 12 ? 2 : 6);
  }
  // No transfer is left set up: no bandwidth, channel or resources held.
  static void expect_no_transfer() {
    UcapVcamUsage u{};
    ASSERT_EQ(ucap_vcam_usage(-1, &u), 0);
    EXPECT_EQ(u.bandwidth_handles + u.channels + u.resources, 0);
  }
  // The frame waits the driver ended (frame number or error), from its request log.
  std::vector<std::string> frames_done() const {
    return trace_lines(requests(ids[0]), "attach_done");
  }
};

// `bytes` image bytes followed by guard words, all filled with words made from `seed`.
class Buffer {
 public:
  Buffer(int32_t bytes, uint16_t seed) : bytes_(bytes), words_((bytes + 1) / 2 + 32) {
    for (size_t i = 0; i < words_.size(); ++i) words_[i] = static_cast<uint16_t>(seed + 7919 * i);
    pristine_ = words_;
  }
  uint16_t* data() { return words_.data(); }
  int32_t size() const { return bytes_; }
  std::vector<uint16_t> image() const { return {words_.begin(), words_.begin() + bytes_ / 2}; }
  bool untouched() const { return words_ == pristine_; }
  bool tail_untouched() const {
    return std::equal(words_.begin() + bytes_ / 2, words_.end(), pristine_.begin() + bytes_ / 2);
  }

 private:
  int32_t bytes_;
  std::vector<uint16_t> words_, pristine_;
};

// Polls `done` every millisecond until it holds, for 20 s at most (a broken stream fails
// the test instead of hanging it).
inline bool eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 20000; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
    if (done()) return true;
  }
  return false;
}

// The readiness check's first answer other than 0.
inline int32_t next_frame(Buffer& buffer, int32_t go_on) {
  int32_t r = 0;
  eventually(
      [&] { return (r = UcapIsFastAcquisitionReady(buffer.data(), buffer.size(), go_on)) != 0; });
  return r;
}

// Records the calls of an Ex progress callback whose user value is the recorder.
struct ProgressRecorder {
  std::vector<std::array<int32_t, 3>> calls;
  std::function<int32_t(size_t)> answer;  // result of call number i; null: always 0
  intptr_t user() { return reinterpret_cast<intptr_t>(this); }
  static int32_t callback(int32_t elapsed, int32_t total, int32_t phase, intptr_t user) {
    auto* self = reinterpret_cast<ProgressRecorder*>(user);
    self->calls.push_back({elapsed, total, phase});
    return self->answer ? self->answer(self->calls.size() - 1) : 0;
  }
};

// The processing chain's image (flow/chain.h, held against the stage models by the unit
// suite and the shipped digests) of camera `id`'s noise-free raw frame for the record's
// settings and image rectangle, no references, no blemishes, `words` long: what the
// acquisition flow must deliver. `stream`: the stream's pipeline.
inline std::vector<uint16_t> expected_image(int id, bool stream, int32_t words) {
  using namespace ucap;
  CapturePlan plan = flow::plan_of(*camera(0), stream ? Pipeline::kStream : Pipeline::kSingleShot);
  plan.black = plan.white = plan.packed = 0;
  const vcam::FrameGeometry g{plan.mode(),
                              plan.binning,
                              plan.image.left,
                              plan.image.top,
                              plan.image.width(),
                              plan.image.height(),
                              static_cast<uint32_t>(plan.ticks)};
  std::vector<uint16_t> raw;
  EXPECT_TRUE(vcam::expected_frame(id, g, &raw));
  plan.transferred = Rect{0, 0, g.width, vcam::transferred_rows(g)};
  if (plan.mode() == 2) {  // the camera sends the even rows, then the odd ones
    const size_t W = static_cast<size_t>(g.width), rows = raw.size() / W;
    std::vector<uint16_t> fields(raw.size());
    for (size_t r = 0; r < rows; ++r)
      std::copy_n(raw.begin() + r * W, W, fields.begin() + (r % 2 * (rows / 2) + r / 2) * W);
    raw = fields;
  }
  flow::ChainInputs in = flow::chain_inputs(*camera(0));
  in.blemishes = nullptr;
  std::vector<uint16_t> out(static_cast<size_t>(words));
  EXPECT_EQ(flow::process_frame(plan, reinterpret_cast<uint8_t*>(raw.data()), 2 * raw.size(),
                                out.data(), in),
            0);
  return out;
}

}  // namespace ucap_test
