// Single shots through the exports against the virtual camera: exact and complete images
// for every allowed setting, buffer checks, progress and abort, cancel, and the faults of
// transfers that go wrong.
#include <string>

#include "acquisition_support.h"
#include "progress_recorder.h"
#include "support/trace.h"

namespace ucap_test {
namespace {

// Regions of interest in the coordinates of the current resolution: null (the whole
// sensor), one of even and one of odd width and height (the half-resolution modes then
// transfer an odd number of rows).
const UcapRect kEvenRegion{2, 4, 22, 20};
const UcapRect kOddRegion{3, 3, 20, 20};
const UcapRect kHalfEvenRegion{2, 1, 12, 11};
const UcapRect kHalfOddRegion{1, 1, 10, 10};

class EverySetting : public AcquisitionTest, public ::testing::WithParamInterface<Setting> {};

// Two shots of the same scene into buffers holding different patterns give the stages'
// image of the camera's own raw frame, every word written, nothing written past it.
TEST_P(EverySetting, ImageIsExactAndComplete) {
  apply(GetParam());
  ASSERT_EQ(UcapmEnableColorProcessing(0, 1), 0);
  const bool half = GetParam().resolution == 1;
  const UcapRect* regions[] = {nullptr, half ? &kHalfEvenRegion : &kEvenRegion,
                               half ? &kHalfOddRegion : &kOddRegion};
  for (int packing : {1, 0}) {
    ASSERT_EQ(UcapmEnablePacking(0, packing), 0);
    for (const UcapRect* region : regions) {
      SCOPED_TRACE("packing " + std::to_string(packing) +
                   (region ? " region " + std::to_string(region->right - region->left) : " full"));
      ASSERT_EQ(UcapSetImageSize(region), 0);
      const int32_t n = data_bytes();
      Buffer a(n, 0x1234), b(n, 0xBEEF);
      ASSERT_EQ(UcapAcquisition(a.data(), n, nullptr), 0);
      ASSERT_EQ(UcapAcquisition(b.data(), n, nullptr), 0);
      EXPECT_TRUE(a.tail_untouched());
      EXPECT_TRUE(b.tail_untouched());
      EXPECT_EQ(a.image(), b.image());
      EXPECT_EQ(a.image(), expected_image(ids[0], false));
    }
  }
  Buffer short_one(data_bytes() - 1, 1);
  EXPECT_EQ(UcapAcquisition(short_one.data(), short_one.size(), nullptr), 6);
  EXPECT_TRUE(short_one.untouched());
  // Samples above 12 bits (unpacked): nothing written past the image, and every value made
  // through a table or a clamp (all but the grey full-resolution words) stays in 12 bits.
  ASSERT_EQ(ucap_vcam_set(ids[0], "overrange=1"), 0);
  Buffer over(data_bytes(), 0x5A5A);
  ASSERT_EQ(UcapAcquisition(over.data(), over.size(), nullptr), 0);
  EXPECT_TRUE(over.tail_untouched());
  if (GetParam().resolution != 3) {
    for (uint16_t v : over.image()) ASSERT_LE(v, 4095);
  }
}

INSTANTIATE_TEST_SUITE_P(Acquisition, EverySetting, ::testing::ValuesIn(kSettings), setting_name);

TEST(AcquisitionNoCamera, IndexChecks) {
  UcapClose();
  uint16_t word = 0;
  EXPECT_EQ(UcapAcquisition(&word, 2, nullptr), 3);
  EXPECT_EQ(UcapmAcquisitionEx(0, &word, 2, nullptr, 0), 3);
  EXPECT_EQ(UcapStartFastAcquisition(), 3);
  EXPECT_EQ(UcapIsFastAcquisitionReady(&word, 2, 1), -3);
  EXPECT_EQ(UcapAbortFastAcquisition(), 3);
  EXPECT_EQ(UcapCalculateBlackRef(nullptr), 3);
  EXPECT_EQ(UcapCalculateWhiteRefEx(nullptr, 0), 3);
  EXPECT_EQ(Ucapm_setBlackRef(&word, &word), 3);
}

using SingleShot = AcquisitionTest;

TEST_F(SingleShot, RefusalsBeforeAnythingIsSent) {
  MessageCapture messages;
  const int32_t n = data_bytes();
  EXPECT_EQ(UcapAcquisition(nullptr, n, nullptr), 6);
  // A pixel depth the resolution does not allow (the setters store each value alone).
  ASSERT_EQ(UcapSetBitsPerPixel(12), 0);
  Buffer buffer(n, 5);
  EXPECT_EQ(UcapAcquisition(buffer.data(), n, nullptr), 8);
  EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(trace(ids[0]), "");
  EXPECT_EQ(messages.lines(), (std::vector<std::string>{"(0)UcapAcquisition error 6",
                                                        "(0)UcapAcquisition error 8"}));
}

// Progress calls of the exposure and what their answers do.
struct ProgressCase {
  const char* name;
  int32_t exposure_us;
  const char* timescale;
  int32_t answer_from;   // calls from this number on answer 1 (-1: never)
  int32_t answer_until;  // ... up to but not including this one (-1: no end)
  int32_t result;
  bool frame_arrives;
};
const ProgressCase kProgressCases[] = {
    {"Shortest", 250, "20", -1, -1, 0, true},
    {"OneSecondGoesOn", 1000000, "10", -1, -1, 0, true},
    {"OneSecondAbortsAtEnd", 1000000, "10", 0, -1, 4, true},
    {"OneSecondAsksOnce", 1000000, "10", 0, 1, 0, true},
    {"ThreeSecondsGoOn", 3000000, "10", -1, -1, 0, true},
    {"ThreeSecondsCancelled", 3000000, "1", 0, -1, 4, false},
};

class Progress : public AcquisitionTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(Progress, CallsAndAbort) {
  const ProgressCase& c = GetParam();
  ASSERT_EQ(ucap_vcam_set(ids[0], (std::string("timescale=") + c.timescale).c_str()), 0);
  ASSERT_EQ(UcapSetExposure(c.exposure_us), 0);
  ProgressRecorder progress;
  progress.answer = [&](size_t i) {
    const int32_t k = static_cast<int32_t>(i);
    return c.answer_from >= 0 && k >= c.answer_from && (c.answer_until < 0 || k < c.answer_until);
  };
  const int frames = ucap_vcam_frame_count(ids[0]);
  const int32_t n = data_bytes();
  Buffer buffer(n, 9);
  EXPECT_EQ(UcapAcquisitionEx(buffer.data(), n, &ProgressRecorder::callback, progress.user()),
            c.result);
  EXPECT_EQ(ucap_vcam_frame_count(ids[0]) - frames, c.frame_arrives ? 1 : 0);
  if (c.result != 0) { EXPECT_TRUE(buffer.untouched()); }
  expect_no_transfer();
  // Nominal time: 0, 50, 100 ... ms, capped at the exposure; total at least 1; phase 2.
  ASSERT_FALSE(progress.calls.empty());
  const int32_t ms = c.exposure_us / 1000;
  for (size_t i = 0; i < progress.calls.size(); ++i) {
    EXPECT_EQ(progress.calls[i], (std::array<int32_t, 3>{std::min<int32_t>(ms, 50 * i),
                                                          std::max(ms, 1), 2}));
  }
  const bool cancelled = trace(ids[0]).find("W F0E0061C 00000000") != std::string::npos;
  EXPECT_EQ(cancelled, !c.frame_arrives);
  if (!c.frame_arrives) { EXPECT_EQ(progress.calls.size(), 1u); }
}

INSTANTIATE_TEST_SUITE_P(Acquisition, Progress, ::testing::ValuesIn(kProgressCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SingleShot, NullCallbackMakesNoCallsAndKeepsTheStoredOne) {
  ProgressRecorder progress;
  const int32_t n = data_bytes();
  Buffer buffer(n, 1);
  ASSERT_EQ(UcapAcquisitionEx(buffer.data(), n, &ProgressRecorder::callback, progress.user()), 0);
  const size_t calls = progress.calls.size();
  ASSERT_EQ(UcapAcquisitionEx(buffer.data(), n, nullptr, 0), 0);
  EXPECT_EQ(progress.calls.size(), calls);
  EXPECT_EQ(record().ex_callback, &ProgressRecorder::callback);
}

// A triggered shot has no capture-wait time-out: a request to stop cancels it whatever
// the exposure.
TEST_F(SingleShot, TriggeredShotIsCancelled) {
  ASSERT_EQ(UcapEnableHardwareTrigger(1), 0);
  ProgressRecorder progress;
  progress.answer = [](size_t i) { return i >= 2 ? 1 : 0; };
  Buffer buffer(data_bytes(), 1);
  EXPECT_EQ(UcapAcquisitionEx(buffer.data(), buffer.size(), &ProgressRecorder::callback,
                              progress.user()),
            4);
  EXPECT_EQ(progress.calls.size(), 3u);
  EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(ucap_vcam_frame_count(ids[0]), 0);
  expect_no_transfer();
}

// A transfer left set up by a failed clean-up is cleaned up and set up afresh for the
// settings the buffer was checked against.
TEST_F(SingleShot, StaleTransferIsReplaced) {
  MessageCapture messages;
  ASSERT_EQ(ucap_vcam_set(ids[0], "fail_ioctl=222044:1:31"), 0);
  Buffer full(data_bytes(), 1);
  ASSERT_EQ(UcapAcquisition(full.data(), full.size(), nullptr), 26);
  const UcapRect small{8, 8, 40, 40};
  ASSERT_EQ(UcapSetImageSize(&small), 0);
  Buffer buffer(data_bytes(), 2);
  ASSERT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 0);
  EXPECT_TRUE(buffer.tail_untouched());
  EXPECT_EQ(buffer.image(), expected_image(ids[0], false));
  EXPECT_EQ(messages.lines(), (std::vector<std::string>{"(0)UcapAcquisition error 26", "Setup error"}));
}

// Transfers that do not bring the frame the settings promise: nothing reaches the
// caller's buffer, and each gives its own code.
struct TransferFault {
  const char* name;
  const char* config;  // set on the camera before the shot
  int32_t result;
};
const TransferFault kTransferFaults[] = {
    {"CameraMisreportsSize", "misreport=mode0+00C:00100010", 8},
    {"DroppedFrame", "drop_frames=1", 21},
    {"UnpluggedInExposure", "detach_in_exposure=1", 3},
};

class FailedTransfer : public AcquisitionTest, public ::testing::WithParamInterface<TransferFault> {};

TEST_P(FailedTransfer, LeavesTheBufferAlone) {
  const TransferFault& f = GetParam();
  MessageCapture messages;
  ASSERT_EQ(ucap_vcam_set(ids[0], f.config), 0);
  ProgressRecorder progress;
  Buffer buffer(data_bytes(), 3);
  EXPECT_EQ(UcapAcquisitionEx(buffer.data(), buffer.size(), &ProgressRecorder::callback,
                              progress.user()),
            f.result);
  EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(messages.lines().back(), "(0)UcapAcquisition error " + std::to_string(f.result));
  expect_no_transfer();
}

INSTANTIATE_TEST_SUITE_P(Acquisition, FailedTransfer, ::testing::ValuesIn(kTransferFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SingleShot, WorkerNotCreatedLeavesNoTransfer) {
  MessageCapture messages;
  ucap::platform::testing::fail_thread_creations(1);
  Buffer buffer(data_bytes(), 4);
  EXPECT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 11);
  EXPECT_TRUE(buffer.untouched());
  expect_no_transfer();
  EXPECT_EQ(record().busy.load(), 0);
  EXPECT_EQ(messages.lines(), std::vector<std::string>{"(0)Couldn\xB4t create thread"});
  EXPECT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 0);
}

TEST_F(SingleShot, DefectivePixelsFromTheEepromAreReplaced) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "blemishes=41:30,100:51"), 0);
  UcapClose();
  ASSERT_EQ(UcapInit(), 0);
  ASSERT_EQ(UcapSetResolution(3), 0);
  ASSERT_EQ(UcapSetBitsPerPixel(12), 0);
  Buffer buffer(data_bytes(), 4);
  ASSERT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 0);
  const std::vector<uint16_t> image = buffer.image();
  const std::vector<uint16_t> clean = expected_image(ids[0], false);
  for (auto [x, y] : {std::pair{41, 30}, std::pair{100, 51}}) {
    const size_t at = static_cast<size_t>(y) * 200 + x;
    EXPECT_NE(clean[at], image[at]);  // stuck or dead in the raw frame
    EXPECT_EQ(image[at], (image[at - 2] + image[at + 2] + 1) >> 1);
  }
}

}  // namespace
}  // namespace ucap_test
