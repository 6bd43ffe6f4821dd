// Fast acquisition through the exports (a long stream, aborts, refusals while it runs) and
// the transfers of single shots and streams that go wrong.
#include <atomic>
#include <thread>

#include "acquisition_support.h"
#include "vcam/probe.h"

namespace ucap_test {
namespace {

using FastAcquisition = AcquisitionTest;

// A long full-resolution stream (in real time: each frame wait has its full 3 s) delivers
// every frame the camera numbered, in order, and the driver filled the two frame buffers
// in turn.
TEST_F(FastAcquisition, LongStreamAlternatesBuffersAndLosesNoFrame) {
  apply(Setting{3, 12, 1});
  ASSERT_EQ(ucap_vcam_set(ids[0], "frame_stamp=1 timescale=1") + UcapSetExposure(250), 0);
  Buffer buffer(data_bytes(), 1);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  constexpr int kFrames = 200;
  for (int i = 1; i <= kFrames; ++i) {
    ASSERT_EQ(next_frame(buffer, i < kFrames), 1) << "frame " << i;
    ASSERT_EQ(buffer.data()[0] | buffer.data()[1] << 12, i);
  }
  const std::vector<std::string> done = frames_done();
  ASSERT_EQ(done.size(), static_cast<size_t>(kFrames));
  for (int i = 1; i <= kFrames; ++i) {
    EXPECT_EQ(done[i - 1],
              "attach_done buffer=" + std::to_string((i - 1) % 2) + " frame=" + std::to_string(i));
  }
  EXPECT_TRUE(buffer.tail_untouched());
  EXPECT_EQ(UcapAbortFastAcquisition(), 11);
  EXPECT_EQ(UcapIsFastAcquisitionReady(buffer.data(), buffer.size(), 1), -11);
  expect_no_transfer();
}

// Transfers that do not bring the frame the settings promise, in a single shot or in a
// stream after the frames that did arrive: each its code and message, nothing in the
// caller's buffer, no transfer left behind, and a stream that ends instead of one that
// never does. (Dropped frames and unplugging in a single shot: the fault matrix.)
struct TransferFault {
  const char* name;
  const char* camera;  // set on the camera first
  bool stream, no_thread;
  int delivered;     // frames of the stream that arrive first
  int32_t short_by;  // bytes the caller's buffer lacks
  int32_t result;
  const char* message;  // the last one reported
};
const TransferFault kTransferFaults[] = {
    {"ShotMisreportedSize", "misreport=mode0+00C:00100010", false, false, 0, 0, 8,
     "(0)UcapAcquisition error 8"},
    {"ShotWorkerNotCreated", "", false, true, 0, 0, 11, "(0)Couldn\xB4t create thread"},
    {"StreamWorkerNotCreated", "", true, true, 0, 0, 1, "(0)Couldn\xB4t create thread"},
    {"StreamBufferTooSmall", "", true, false, 0, 1, -6, "(0)UcapIsFastAcquisitionReady error -6"},
    {"StreamDroppedFrame", "drop_frames=1:2", true, false, 2, 0, -21,
     "(0)UcapIsFastAcquisitionReady error -21"},
    {"StreamUnpluggedBetweenFrames", "detach_after=3", true, false, 3, 0, -3,
     "(0)UcapIsFastAcquisitionReady error 3"},
    {"StreamUnpluggedInExposure", "detach_in_exposure=2", true, false, 1, 0, -3,
     "(0)UcapIsFastAcquisitionReady error 3"},
};

class FailedTransfer : public AcquisitionTest,
                       public ::testing::WithParamInterface<TransferFault> {};

TEST_P(FailedTransfer, LeavesTheBufferAlone) {
  const TransferFault& f = GetParam();
  MessageCapture messages;
  ASSERT_EQ(ucap_vcam_set(ids[0], f.camera), 0);
  if (f.no_thread) ucap::platform::testing::fail_thread_creations(1);
  Buffer frames(data_bytes(), 5), buffer(data_bytes() - f.short_by, 6);
  int32_t r = f.stream ? UcapStartFastAcquisition()
                       : UcapAcquisition(buffer.data(), buffer.size(), nullptr);
  if (f.stream && r == 0) {
    for (int i = 0; i < f.delivered; ++i) ASSERT_EQ(next_frame(frames, 1), 1);
    r = next_frame(buffer, 1);
    EXPECT_EQ(UcapIsFastAcquisitionReady(buffer.data(), buffer.size(), 1), -11);
  }
  EXPECT_EQ(r, f.result);
  EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(messages.lines().back(), f.message);
  EXPECT_TRUE(record().busy.load() == 0 && record().acquisition.now() == ucap::Acquisition::kIdle);
  expect_no_transfer();
}

INSTANTIATE_TEST_SUITE_P(Acquisition, FailedTransfer, ::testing::ValuesIn(kTransferFaults),
                         kByName);

// Abort while a frame is pending: short exposures are let arrive, long and triggered ones
// are cancelled through the one-shot register.
struct AbortCase {
  const char* name;
  int32_t exposure_us;
  bool trigger, cancelled;
};
const AbortCase kAbortCases[] = {
    {"ShortExposure", 100000, false, false},
    {"LongExposure", 2000000, false, true},
    {"Triggered", 100000, true, true},
};

class Abort : public AcquisitionTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(Abort, EndsTheStream) {
  const AbortCase& c = GetParam();
  ASSERT_EQ(ucap_vcam_set(ids[0], "timescale=1"), 0);
  ASSERT_EQ(UcapSetExposure(c.exposure_us) + UcapEnableHardwareTrigger(c.trigger), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  ASSERT_TRUE(eventually([&] { return vcam::capture_state(ids[0]) != 0; }));  // frame under way
  EXPECT_EQ(UcapAbortFastAcquisition(), 0);
  EXPECT_EQ(frames_done(), std::vector<std::string>{c.cancelled ? "attach_done buffer=0 error=995"
                                                                : "attach_done buffer=0 frame=1"});
  EXPECT_EQ(trace(ids[0]).find("W F0E0061C 00000000") != std::string::npos, c.cancelled);
  EXPECT_EQ(UcapAbortFastAcquisition(), 11);
  EXPECT_EQ(record().busy.load(), 0);
  expect_no_transfer();
}

INSTANTIATE_TEST_SUITE_P(Acquisition, Abort, ::testing::ValuesIn(kAbortCases), kByName);

// Between two frames no transfer is pending, but the stream still runs with the geometry
// it was set up with: nothing may change it, and nothing else may use the camera.
TEST_F(FastAcquisition, RefusalsWhileTheStreamRuns) {
  Buffer buffer(data_bytes(), 3);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  ASSERT_TRUE(eventually([] { return record().busy.load() == 0; }));  // the frame has arrived
  const UcapRect small{0, 0, 64, 64};
  EXPECT_EQ(UcapSetExposure(5000), 10);
  EXPECT_EQ(UcapSetImageSize(&small), 10);
  EXPECT_EQ(UcapSetWhiteBalance(1, 1, 1), 10);
  EXPECT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 10);
  EXPECT_EQ(UcapCalculateBlackRef(nullptr), 10);
  EXPECT_EQ(UcapCalculateWhiteRef(nullptr), 10);
  EXPECT_EQ(UcapStartFastAcquisition(), 10);
  EXPECT_TRUE(buffer.untouched());
  ASSERT_EQ(next_frame(buffer, 0), 1);
  EXPECT_EQ(buffer.image(), expected_image(ids[0], true, buffer.size() / 2));
}

// While a shot or a reference calculation has the camera (its progress callback waits),
// another thread finds no stream to poll or abort and may start nothing.
struct Held {
  std::atomic<bool> holding{false}, asked{false};
};
int32_t hold_until_asked(int32_t, int32_t, int32_t, intptr_t user) {
  auto* held = reinterpret_cast<Held*>(user);
  held->holding.store(true);
  eventually([held] { return held->asked.load(); });
  return 0;
}

TEST_F(FastAcquisition, RefusalsWhileAShotOrAReferenceHasTheCamera) {
  Buffer image(data_bytes(), 7), other(data_bytes(), 8);
  for (const bool shot : {true, false}) {
    Held held;
    std::thread asker([&] {
      eventually([&] { return held.holding.load(); });
      EXPECT_EQ(UcapIsFastAcquisitionReady(other.data(), other.size(), 1), -11);
      EXPECT_EQ(UcapAbortFastAcquisition(), 11);
      EXPECT_EQ(UcapStartFastAcquisition(), 10);
      EXPECT_EQ(UcapAcquisition(other.data(), other.size(), nullptr), 10);
      EXPECT_EQ(UcapCalculateBlackRef(nullptr), 10);
      EXPECT_EQ(UcapSetExposure(5000), 10);
      held.asked.store(true);
    });
    const auto user = reinterpret_cast<intptr_t>(&held);
    const int32_t r = shot ? UcapAcquisitionEx(image.data(), image.size(), &hold_until_asked, user)
                           : UcapCalculateWhiteRefEx(&hold_until_asked, user);
    asker.join();
    EXPECT_TRUE(shot ? r == 0 : r != 10) << r;
    EXPECT_TRUE(other.untouched());
  }
  expect_no_transfer();
}

// One thread polls the stream while another aborts it: the abort always wins cleanly.
TEST_F(FastAcquisition, AbortRacesReadiness) {
  ASSERT_EQ(UcapSetExposure(250), 0);
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(UcapStartFastAcquisition(), 0);
    std::atomic<bool> stop{false};
    std::thread poller([&] {
      Buffer buffer(data_bytes(), 4);
      while (!stop.load()) {
        if (const int32_t r = UcapIsFastAcquisitionReady(buffer.data(), buffer.size(), 1); r < 0) {
          EXPECT_EQ(r, -11);
          return;
        }
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(round % 5));
    EXPECT_EQ(UcapAbortFastAcquisition(), 0);
    stop.store(true);
    poller.join();
    EXPECT_EQ(record().busy.load(), 0);
    expect_no_transfer();
  }
}

// An abort that cannot open the device to cancel its frame returns 4; the next start
// finishes it (the frame cancelled) and streams again.
TEST_F(FastAcquisition, UnfinishedAbortIsFinishedByTheNextStart) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "timescale=1"), 0);
  ASSERT_EQ(UcapSetExposure(2000000), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_open=1"), 0);
  EXPECT_EQ(UcapAbortFastAcquisition(), 4);
  Buffer buffer(data_bytes(), 5);
  EXPECT_EQ(UcapIsFastAcquisitionReady(buffer.data(), buffer.size(), 1), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "timescale=20"), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  EXPECT_EQ(next_frame(buffer, 0), 1);
  EXPECT_EQ(frames_done(), (std::vector<std::string>{"attach_done buffer=0 error=995",
                                                     "attach_done buffer=0 frame=1"}));
  expect_no_transfer();
}

}  // namespace
}  // namespace ucap_test
