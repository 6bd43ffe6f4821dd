// Frames through the transport: set-up, hand-over on a worker thread that holds the
// camera lock as the acquisition does, the frame in the driver's buffer in the layout the
// raw frame stages expect (checked against the sensor model's own noise-free samples),
// clean-up; the hardware trigger; ending a long exposure early.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "acquisition/raw_stages.h"
#include "device/requests.h"
#include "flow/stage_adapters.h"
#include "support/camera_fixture.h"
#include "vcam/probe.h"
#include "vcam/sensor.h"

namespace {

using ucap::Rect;
using namespace std::chrono_literals;

class FrameTransferTest : public ucap_test::CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {"noise=0 timescale=50 sensor=640x480"}; }

  // The worker's part: hand over the buffer under the camera lock; `done` is set when the
  // frame wait has ended.
  void start_worker(int buffer) {
    done.store(false);
    result.store(-1);
    worker = std::thread([this, buffer] {
      ucap::platform::Lock lock(cam().lock);
      result.store(ucap::device::hand_over(cam(), cam().frame_buffer[buffer]));
      done.store(true);
    });
  }
  bool wait_done(std::chrono::milliseconds limit) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done.load() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(2ms);
    return done.load();
  }
  void TearDown() override {
    if (worker.joinable()) {
      ucap_vcam_detach(id());  // ends any wait still pending
      worker.join();
    }
    CameraTest::TearDown();
  }

  // Samples of the frame in buffer `buffer`, unpacked and with fields interleaved as the
  // acquisition does it.
  std::vector<uint16_t> received(int mode, int buffer) {
    const Rect t = cam().transferred;
    const int w = t.width(), h = t.height();
    uint8_t* frame = cam().frame_buffer[buffer];
    if (cam().modes[mode].packing_supported == 1 && cam().packing != 0)
      ucap::UnpackPixels12(cam(), mode, frame);
    std::vector<uint16_t> out(static_cast<size_t>(w) * h);
    if (mode == 0) {
      std::memcpy(out.data(), frame, out.size() * 2);
    } else {
      ucap::InterleaveFields(out.data(), reinterpret_cast<const uint16_t*>(frame), w, h);
    }
    return out;
  }

  std::thread worker;
  std::atomic<bool> done{false};
  std::atomic<int32_t> result{-1};
};

struct Readout {
  int mode, binning;
  bool packed;
  Rect rect;
};

TEST_F(FrameTransferTest, FramesArriveInTheLayoutTheStagesExpect) {
  const Readout readouts[] = {
      {2, 1, true, {0, 0, 640, 480}},   {2, 1, false, {64, 32, 320, 240}},
      {2, 2, true, {0, 0, 320, 256}},   {2, 3, false, {12, 6, 300, 252}},
      {0, 1, true, {0, 0, 640, 480}},   {0, 1, false, {8, 4, 328, 244}},
      {0, 2, true, {0, 0, 320, 240}},   {0, 3, false, {0, 0, 360, 240}},
  };
  int frames = ucap_vcam_frame_count(id());
  int buffer = 0;
  for (const Readout& r : readouts) {
    SCOPED_TRACE(testing::Message() << "mode " << r.mode << " b " << r.binning << " packed " << r.packed);
    ASSERT_EQ(UcapmEnablePacking(0, r.packed ? 1 : 0), 0);
    ASSERT_EQ(setup(r.mode, r.rect, r.binning, 400), 0);
    start_worker(buffer);
    ASSERT_TRUE(wait_done(5s));
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(ucap_vcam_frame_count(id()), ++frames);
    EXPECT_EQ(cleanup(), 0);

    vcam::FrameGeometry g;
    g.mode = r.mode;
    g.binning = r.binning;
    g.left = r.rect.left;
    g.top = r.rect.top;
    g.width = r.rect.width();
    g.height = r.rect.height();
    g.ticks = 400;
    std::vector<uint16_t> expected;
    ASSERT_TRUE(vcam::expected_frame(id(), g, &expected));
    const Rect t = cam().transferred;
    EXPECT_EQ(t.width(), g.width);
    EXPECT_EQ(t.height(), vcam::transferred_rows(g));
    std::vector<uint16_t> got = received(r.mode, buffer);
    ASSERT_EQ(got.size(), expected.size());
    // The chart scene varies strongly, so a misplaced row or sample cannot go unseen.
    auto [lo, hi] = std::minmax_element(expected.begin(), expected.end());
    ASSERT_GT(*hi - *lo, 500);
    size_t mismatches = 0;
    for (size_t i = 0; i < got.size(); ++i) mismatches += got[i] != expected[i];
    EXPECT_EQ(mismatches, 0u);
    buffer = 1 - buffer;  // the second frame buffer serves as well
  }
  vcam::BusUsage u = vcam::bus_usage();
  EXPECT_EQ(u.resources + u.channels + u.bandwidth_handles, 0);
}

TEST_F(FrameTransferTest, HardwareTriggerHoldsTheFrameUntilThePulse) {
  ASSERT_EQ(UcapmEnableHardwareTrigger(0, 1), 0);
  ASSERT_EQ(setup(2, Rect{0, 0, 64, 64}, 1, 40), 0);
  const int before = ucap_vcam_frame_count(id());
  start_worker(0);
  EXPECT_FALSE(wait_done(300ms));  // no time-out with a trigger: it waits
  EXPECT_EQ(vcam::capture_state(id()), 1);
  EXPECT_EQ(ucap_vcam_trigger(id()), 0);
  ASSERT_TRUE(wait_done(5s));
  worker.join();
  EXPECT_EQ(ucap_vcam_frame_count(id()), before + 1);
  EXPECT_EQ(cleanup(), 0);
  EXPECT_EQ(ucap_vcam_trigger(id()), 1);  // nothing waits any more
}

// Ends a long exposure from another handle on the same device, as the acquisition's
// cancel path does: the one-shot register written 0, or the cancel capture wait request.
class CancelTest : public FrameTransferTest {
 protected:
  std::vector<std::string> cameras() const override { return {"noise=0 timescale=1 sensor=640x480"}; }
};

TEST_F(CancelTest, OneShotRegisterWrittenZeroOrCancelCaptureWaitEndsTheExposure) {
  for (bool one_shot : {true, false}) {
    ASSERT_EQ(setup(2, Rect{0, 0, 64, 64}, 1, 40000), 0);  // 10 s
    start_worker(one_shot ? 0 : 1);
    EXPECT_FALSE(wait_done(100ms));
    ucap::platform::DeviceHandle h = ucap::platform::open_device(cam().device_path, false);
    ASSERT_TRUE(ucap::platform::device_valid(h));
    if (one_shot) {
      EXPECT_EQ(ucap::device::cancel_write(cam(), h, ucap::device::command(cam(), ucap::device::kCmdOneShot)), 0u);
    } else {
      EXPECT_EQ(ucap::device::cancel_capture_wait(h), 0u);
    }
    EXPECT_TRUE(wait_done(3s)) << one_shot;
    ucap::platform::close_device(h);
    worker.join();
    EXPECT_EQ(cleanup(), 0);
  }
}

TEST_F(CancelTest, CaptureWaitTimesOutWhenNoFrameComes) {
  // A dropped frame never arrives: the wait of kind 0x80 ends at ticks / 3 + 3000 ms.
  ASSERT_EQ(ucap_vcam_set(id(), "drop_frames=1 timescale=20"), 0);
  ASSERT_EQ(setup(2, Rect{0, 0, 64, 64}, 1, 40), 0);
  start_worker(0);
  EXPECT_TRUE(wait_done(3s));  // 3013 ms of the camera's clock, 20 times faster
  worker.join();
  EXPECT_EQ(cleanup(), 0);
}

}  // namespace
