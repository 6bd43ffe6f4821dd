// Fast acquisition through the exports: the stream's frames, its ends (last frame,
// abort, buffer too small, frames that do not arrive) and the refusals while it runs.
#include <atomic>
#include <chrono>
#include <thread>

#include "acquisition_support.h"
#include "support/trace.h"
#include "vcam/probe.h"

namespace ucap_test {
namespace {

// Polls the readiness check until it answers something other than 0 (bounded, so that a
// broken stream fails the test instead of hanging it).
int32_t next_frame(uint16_t* image, int32_t size, int32_t go_on) {
  for (int i = 0; i < 20000; ++i) {
    const int32_t r = UcapIsFastAcquisitionReady(image, size, go_on);
    if (r != 0) return r;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return 0;
}

bool wait_until(const std::function<bool()>& done) {
  for (int i = 0; i < 20000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return done();
}

using FastAcquisition = AcquisitionTest;

// A long full-resolution stream delivers every frame the camera numbered, in order, and
// the driver filled the two frame buffers in turn.
TEST_F(FastAcquisition, LongStreamAlternatesBuffersAndLosesNoFrame) {
  apply(Setting{3, 12, 1});
  ASSERT_EQ(ucap_vcam_set(ids[0], "frame_stamp=1"), 0);
  const int32_t n = data_bytes();
  Buffer buffer(n, 1);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  constexpr int kFrames = 200;
  for (int i = 1; i <= kFrames; ++i) {
    ASSERT_EQ(next_frame(buffer.data(), n, i < kFrames), 1) << "frame " << i;
    ASSERT_EQ(buffer.data()[0] | buffer.data()[1] << 12, i);
  }
  const std::vector<std::string> arrived = trace_lines(requests(ids[0]), "attach_done");
  ASSERT_EQ(arrived.size(), static_cast<size_t>(kFrames));
  for (int i = 1; i <= kFrames; ++i) {
    EXPECT_EQ(arrived[i - 1], "attach_done buffer=" + std::to_string((i - 1) % 2) +
                                  " frame=" + std::to_string(i));
  }
  EXPECT_TRUE(buffer.tail_untouched());
  EXPECT_EQ(UcapAbortFastAcquisition(), 11);
  EXPECT_EQ(UcapIsFastAcquisitionReady(buffer.data(), n, 1), -11);
  expect_no_transfer();
}

class EverySettingStream : public AcquisitionTest, public ::testing::WithParamInterface<Setting> {};

// One frame of a stream: the stream's stages on the camera's raw frame, every word of the
// image written and nothing past it.
TEST_P(EverySettingStream, LastFrameIsExactAndComplete) {
  apply(GetParam());
  ASSERT_EQ(UcapmEnableColorProcessing(0, 1), 0);
  const UcapRect odd = GetParam().resolution == 1 ? UcapRect{1, 1, 10, 10} : UcapRect{3, 3, 20, 20};
  for (const UcapRect* region : {static_cast<const UcapRect*>(nullptr), &odd}) {
    ASSERT_EQ(UcapSetImageSize(region), 0);
    const int32_t n = data_bytes();
    Buffer a(n, 0x1234), b(n, 0xBEEF);
    for (Buffer* buffer : {&a, &b}) {
      ASSERT_EQ(UcapStartFastAcquisition(), 0);
      ASSERT_EQ(next_frame(buffer->data(), n, 0), 1);
      EXPECT_TRUE(buffer->tail_untouched());
    }
    EXPECT_EQ(a.image(), b.image());
    EXPECT_EQ(a.image(), expected_image(ids[0], true));
  }
  // Samples above 12 bits: nothing written past the image, and every value made through
  // a table or a clamp (all but the grey full-resolution words) stays in 12 bits.
  ASSERT_EQ(UcapmEnablePacking(0, 0), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "overrange=1"), 0);
  Buffer over(data_bytes(), 0x5A5A);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  ASSERT_EQ(next_frame(over.data(), over.size(), 0), 1);
  EXPECT_TRUE(over.tail_untouched());
  if (GetParam().resolution != 3) {
    for (uint16_t v : over.image()) ASSERT_LE(v, 4095);
  }
}

INSTANTIATE_TEST_SUITE_P(Acquisition, EverySettingStream, ::testing::ValuesIn(kSettings),
                         setting_name);

TEST_F(FastAcquisition, BufferTooSmallStopsTheStream) {
  MessageCapture messages;
  Buffer buffer(data_bytes() - 1, 2);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  EXPECT_EQ(next_frame(buffer.data(), buffer.size(), 1), -6);
  EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(UcapIsFastAcquisitionReady(buffer.data(), buffer.size(), 1), -11);
  expect_no_transfer();
  EXPECT_EQ(messages.lines(), std::vector<std::string>{"(0)UcapIsFastAcquisitionReady error -6"});
}

// Abort while a frame is pending: short exposures are let arrive, long and triggered
// ones are cancelled through the one-shot register.
struct AbortCase {
  const char* name;
  int32_t exposure_us;
  bool trigger;
  const char* timescale;
  bool cancelled;
};
const AbortCase kAbortCases[] = {
    {"ShortExposure", 100000, false, "1", false},
    {"LongExposure", 2000000, false, "1", true},
    {"Triggered", 100000, true, "1", true},
};

class Abort : public AcquisitionTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(Abort, EndsTheStream) {
  const AbortCase& c = GetParam();
  ASSERT_EQ(ucap_vcam_set(ids[0], (std::string("timescale=") + c.timescale).c_str()), 0);
  ASSERT_EQ(UcapSetExposure(c.exposure_us), 0);
  ASSERT_EQ(UcapEnableHardwareTrigger(c.trigger ? 1 : 0), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  ASSERT_TRUE(wait_until([&] { return vcam::capture_state(ids[0]) != 0; }));
  EXPECT_EQ(UcapAbortFastAcquisition(), 0);
  // The pending frame arrived, or its wait was cancelled.
  EXPECT_EQ(trace_lines(requests(ids[0]), "attach_done"),
            std::vector<std::string>{c.cancelled ? "attach_done buffer=0 error=995"
                                                 : "attach_done buffer=0 frame=1"});
  const bool cancel_write = trace(ids[0]).find("W F0E0061C 00000000") != std::string::npos;
  EXPECT_EQ(cancel_write, c.cancelled);
  EXPECT_EQ(UcapAbortFastAcquisition(), 11);
  uint16_t word = 0;
  EXPECT_EQ(UcapIsFastAcquisitionReady(&word, 0, 1), -11);
  expect_no_transfer();
  EXPECT_EQ(record().busy.load(), 0);
}

INSTANTIATE_TEST_SUITE_P(Acquisition, Abort, ::testing::ValuesIn(kAbortCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Between two frames no transfer is pending, but the stream still runs with the geometry
// it was set up with: nothing may change it, and nothing else may use the camera.
TEST_F(FastAcquisition, RefusalsWhileTheStreamRuns) {
  const std::vector<uint16_t> expected = expected_image(ids[0], true);
  const int32_t n = data_bytes();
  Buffer buffer(n, 3);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  ASSERT_TRUE(wait_until([] { return record().busy.load() == 0; }));  // frame arrived
  const UcapRect small{0, 0, 64, 64};
  const double white[3] = {1, 1, 1};
  EXPECT_EQ(UcapSetExposure(5000), 10);
  EXPECT_EQ(UcapSetResolution(2), 10);
  EXPECT_EQ(UcapSetBitsPerPixel(36), 10);
  EXPECT_EQ(UcapSetImageSize(&small), 10);
  EXPECT_EQ(UcapSetFrameSize(&small), 10);
  EXPECT_EQ(UcapSetWhiteRef(0), 10);
  EXPECT_EQ(UcapSetWhiteBalance(white[0], white[1], white[2]), 10);
  EXPECT_EQ(UcapAcquisition(buffer.data(), n, nullptr), 10);
  EXPECT_EQ(UcapCalculateBlackRef(nullptr), 10);
  EXPECT_EQ(UcapCalculateWhiteRef(nullptr), 10);
  EXPECT_EQ(UcapStartFastAcquisition(), 10);
  EXPECT_TRUE(buffer.untouched());
  ASSERT_EQ(next_frame(buffer.data(), n, 0), 1);
  EXPECT_EQ(buffer.image(), expected);
}

// One thread polls the stream while another aborts it: the abort always wins cleanly.
TEST_F(FastAcquisition, AbortRacesReadiness) {
  ASSERT_EQ(UcapSetExposure(250), 0);
  const int32_t n = data_bytes();
  for (int round = 0; round < 20; ++round) {
    ASSERT_EQ(UcapStartFastAcquisition(), 0);
    std::atomic<bool> stop{false};
    std::thread poller([&] {
      Buffer buffer(n, 4);
      while (!stop.load()) {
        const int32_t r = UcapIsFastAcquisitionReady(buffer.data(), n, 1);
        if (r < 0) {
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
    EXPECT_EQ(record().transfer_active.load(), 0);
  }
  expect_no_transfer();
}

// An abort that cannot open the device to cancel its frame returns 4; the next start
// finishes it and streams again.
TEST_F(FastAcquisition, UnfinishedAbortIsFinishedByTheNextStart) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "timescale=1"), 0);
  ASSERT_EQ(UcapSetExposure(2000000), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_open=1"), 0);
  EXPECT_EQ(UcapAbortFastAcquisition(), 4);
  uint16_t word = 0;
  EXPECT_EQ(UcapIsFastAcquisitionReady(&word, 0, 1), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "timescale=20"), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  Buffer buffer(data_bytes(), 5);
  EXPECT_EQ(next_frame(buffer.data(), buffer.size(), 0), 1);
  EXPECT_EQ(ucap_vcam_frame_count(ids[0]), 1);
  expect_no_transfer();
}

// A frame that does not arrive ends the stream with the transport's code after the frames
// that did, nothing more delivered; so does a camera unplugged between frames or during an
// exposure, instead of a stream that never ends.
struct StreamFault {
  const char* name;
  const char* config;
  int delivered;
  int32_t result;
};
const StreamFault kStreamFaults[] = {
    {"DroppedFrame", "drop_frames=1:2", 2, -21},
    {"UnpluggedBetweenFrames", "detach_after=3", 3, -3},
    {"UnpluggedInExposure", "detach_in_exposure=2", 1, -3},
};

class BrokenStream : public AcquisitionTest, public ::testing::WithParamInterface<StreamFault> {};

TEST_P(BrokenStream, EndsWithACode) {
  const StreamFault& f = GetParam();
  ASSERT_EQ(ucap_vcam_set(ids[0], f.config), 0);
  const int32_t n = data_bytes();
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  Buffer frames(n, 5);
  for (int i = 0; i < f.delivered; ++i) ASSERT_EQ(next_frame(frames.data(), n, 1), 1);
  Buffer buffer(n, 6);
  EXPECT_EQ(next_frame(buffer.data(), n, 1), f.result);
  EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(ucap_vcam_frame_count(ids[0]), f.delivered);
  EXPECT_EQ(UcapIsFastAcquisitionReady(buffer.data(), n, 1), -11);
  expect_no_transfer();
}

INSTANTIATE_TEST_SUITE_P(Acquisition, BrokenStream, ::testing::ValuesIn(kStreamFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FastAcquisition, WorkerNotCreatedLeavesNoTransfer) {
  MessageCapture messages;
  ucap::platform::testing::fail_thread_creations(1);
  EXPECT_EQ(UcapStartFastAcquisition(), 1);
  expect_no_transfer();
  EXPECT_EQ(record().fast_running.load(), 0);
  EXPECT_EQ(messages.lines(), std::vector<std::string>{"(0)Couldn\xB4t create thread"});
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  Buffer buffer(data_bytes(), 7);
  EXPECT_EQ(next_frame(buffer.data(), buffer.size(), 0), 1);
}

}  // namespace
}  // namespace ucap_test
