// Images through the exports against the virtual camera: exact and complete for every
// setting, by single shot and by stream; refusals, progress, abort and cancel of single
// shots, a transfer left set up, defective pixels.
#include <cstdio>

#include "acquisition_support.h"

namespace ucap_test {
namespace {

// A single shot, or the last frame of a stream: 0 when the image was delivered.
int32_t take(Buffer& buffer, bool stream) {
  if (!stream) return UcapAcquisition(buffer.data(), buffer.size(), nullptr);
  const int32_t r = UcapStartFastAcquisition();
  return r != 0 ? r : next_frame(buffer, 0) - 1;
}

class EverySetting : public AcquisitionTest, public ::testing::WithParamInterface<Setting> {};

// Two images of the same scene into buffers holding different patterns, by single shots
// packed and unpacked and by a stream, full frame and regions of even and odd size (the
// half-resolution modes then transfer an odd number of rows): each is the stages' image of
// the camera's raw frame, every word written, nothing past it. Samples above 12 bits write
// nothing past the image either, and every value made through a table or a clamp (all but
// the grey full-resolution words) stays in 12 bits.
TEST_P(EverySetting, ImageIsExactAndComplete) {
  apply(GetParam());
  ASSERT_EQ(UcapmEnableColorProcessing(0, 1), 0);
  const bool half = GetParam().resolution == 1;
  const UcapRect even = half ? UcapRect{2, 1, 12, 11} : UcapRect{2, 4, 22, 20};
  const UcapRect odd = half ? UcapRect{1, 1, 10, 10} : UcapRect{3, 3, 20, 20};
  for (auto [stream, packing] : {std::pair{false, 1}, {false, 0}, {true, 1}}) {
    for (const UcapRect* region : {static_cast<const UcapRect*>(nullptr), &even, &odd}) {
      SCOPED_TRACE(testing::Message() << stream << packing << (region ? region->left : 0));
      ASSERT_EQ(UcapmEnablePacking(0, packing) + UcapSetImageSize(region), 0);
      Buffer a(data_bytes(), 0x1234), b(data_bytes(), 0xBEEF);
      ASSERT_EQ(take(a, stream) + take(b, stream), 0);
      EXPECT_TRUE(a.tail_untouched() && b.tail_untouched());
      EXPECT_EQ(a.image(), b.image());
      EXPECT_EQ(a.image(), expected_image(ids[0], stream, data_bytes() / 2));
    }
  }
  Buffer short_one(data_bytes() - 1, 1);
  EXPECT_EQ(UcapAcquisition(short_one.data(), short_one.size(), nullptr), 6);
  EXPECT_TRUE(short_one.untouched());
  ASSERT_EQ(UcapmEnablePacking(0, 0), 0);  // packed samples have 12 bits
  for (bool stream : {false, true}) {
    ASSERT_EQ(ucap_vcam_set(ids[0], "overrange=1"), 0);
    Buffer over(data_bytes(), 0x5A5A);
    ASSERT_EQ(take(over, stream), 0);
    EXPECT_TRUE(over.tail_untouched());
    for (uint16_t v : over.image()) ASSERT_TRUE(v <= 4095 || GetParam().resolution == 3);
  }
}

INSTANTIATE_TEST_SUITE_P(Acquisition, EverySetting, ::testing::ValuesIn(kSettings),
                         [](const auto& info) {
                           const Setting& s = info.param;
                           char name[40];
                           std::snprintf(name, sizeof name, "r%d_%dbit_b%d", s.resolution, s.bits,
                                         s.binning);
                           return std::string(name);
                         });

TEST(AcquisitionNoCamera, IndexChecks) {
  UcapClose();
  uint16_t word = 0;
  EXPECT_EQ(UcapAcquisitionEx(&word, 2, nullptr, 0), 3);
  EXPECT_EQ(UcapStartFastAcquisition(), 3);
  EXPECT_EQ(UcapIsFastAcquisitionReady(&word, 2, 1), -3);
  EXPECT_EQ(UcapAbortFastAcquisition(), 3);
}

using SingleShot = AcquisitionTest;

TEST_F(SingleShot, RefusalsBeforeAnythingIsSent) {
  MessageCapture messages;
  Buffer buffer(data_bytes(), 5);
  EXPECT_EQ(UcapAcquisition(nullptr, buffer.size(), nullptr), 6);
  ASSERT_EQ(UcapSetBitsPerPixel(12), 0);  // a depth resolution 0 does not allow
  EXPECT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 8);
  EXPECT_TRUE(buffer.untouched());
  EXPECT_EQ(trace(ids[0]), "");
  EXPECT_EQ(messages.lines(),
            (std::vector<std::string>{"(0)UcapAcquisition error 6", "(0)UcapAcquisition error 8"}));
}

// Progress calls during the exposure and what their answers do: calls at 0, 50, 100 ... ms
// (nominal time, capped at the exposure), total at least 1, phase 2; exposures over 2 s
// and triggered ones (which have no time-out) are cancelled through the one-shot register.
struct ProgressCase {
  const char* name;
  int32_t exposure_us;
  const char* camera;
  bool trigger;
  int32_t answer_from, answer_until;  // calls in [from, until) answer 1 (-1: never, no end)
  int32_t result;
  bool cancelled;
};
const ProgressCase kProgressCases[] = {
    {"Shortest", 250, "", false, -1, -1, 0, false},
    {"OneSecondAbortsAtEnd", 1000000, "timescale=10", false, 0, -1, 4, false},
    {"OneSecondAsksOnce", 1000000, "timescale=2", false, 0, 1, 0, false},  // a second call in time
    {"ThreeSecondsGoOn", 3000000, "timescale=10", false, -1, -1, 0, false},
    {"ThreeSecondsCancelled", 3000000, "timescale=1", false, 0, -1, 4, true},
    {"TriggeredCancelled", 100000, "", true, 2, -1, 4, true},
};

class Progress : public AcquisitionTest, public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(Progress, CallsAndAbort) {
  const ProgressCase& c = GetParam();
  ASSERT_EQ(ucap_vcam_set(ids[0], c.camera), 0);
  ASSERT_EQ(UcapSetExposure(c.exposure_us) + UcapEnableHardwareTrigger(c.trigger), 0);
  ProgressRecorder progress;
  progress.answer = [&](size_t i) {
    const int32_t k = static_cast<int32_t>(i);
    return c.answer_from >= 0 && k >= c.answer_from && (c.answer_until < 0 || k < c.answer_until);
  };
  Buffer buffer(data_bytes(), 9);
  EXPECT_EQ(
      UcapAcquisitionEx(buffer.data(), buffer.size(), &ProgressRecorder::callback, progress.user()),
      c.result);
  EXPECT_EQ(frames_done(), std::vector<std::string>{c.cancelled ? "attach_done buffer=0 error=995"
                                                                : "attach_done buffer=0 frame=1"});
  EXPECT_EQ(trace(ids[0]).find("W F0E0061C 00000000") != std::string::npos, c.cancelled);
  if (c.result != 0) {
    EXPECT_TRUE(buffer.untouched());
  }
  if (c.cancelled) {
    EXPECT_EQ(progress.calls.size(), static_cast<size_t>(c.answer_from + 1));
  }
  expect_no_transfer();
  ASSERT_FALSE(progress.calls.empty());
  const int32_t ms = c.exposure_us / 1000;
  for (size_t i = 0; i < progress.calls.size(); ++i) {
    EXPECT_EQ(progress.calls[i],
              (std::array<int32_t, 3>{std::min<int32_t>(ms, 50 * i), std::max(ms, 1), 2}));
  }
  // A null callback makes no calls.
  const size_t calls = progress.calls.size();
  if (c.result == 0) {
    ASSERT_EQ(UcapAcquisitionEx(buffer.data(), buffer.size(), nullptr, 0), 0);
  }
  EXPECT_EQ(progress.calls.size(), calls);
}

INSTANTIATE_TEST_SUITE_P(Acquisition, Progress, ::testing::ValuesIn(kProgressCases), kByName);

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
  EXPECT_EQ(buffer.image(), expected_image(ids[0], false, data_bytes() / 2));
  EXPECT_EQ(messages.lines(),
            (std::vector<std::string>{"(0)UcapAcquisition error 26", "Setup error"}));
}

TEST_F(SingleShot, DefectivePixelsFromTheEepromAreReplaced) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "blemishes=41:30,100:51"), 0);
  UcapClose();
  ASSERT_EQ(UcapInit(), 0);
  apply(Setting{3, 12, 1});
  Buffer buffer(data_bytes(), 4);
  ASSERT_EQ(UcapAcquisition(buffer.data(), buffer.size(), nullptr), 0);
  const std::vector<uint16_t> image = buffer.image(), raw = expected_image(ids[0], false, 32000);
  for (size_t at : {30 * 200 + 41, 51 * 200 + 100}) {
    EXPECT_NE(raw[at], image[at]);  // stuck or dead in the raw frame
    EXPECT_EQ(image[at], (image[at - 2] + image[at + 2] + 1) >> 1);
  }
}

}  // namespace
}  // namespace ucap_test
