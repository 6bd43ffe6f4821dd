// Unplugging the camera while it is idle, during a shot's exposure, during a stream's
// exposure, while a triggered stream waits and during a reference calculation: every wait
// ends at once with a code (the exposures are a minute long on a real-time clock; a wait
// that did not end fails the bounded poll instead of hanging), the close that follows
// does not wait for anything, and once the camera is plugged in again and the library
// started anew it takes pictures.
#include <chrono>
#include <future>
#include <thread>

#include "acquisition_support.h"

namespace ucap_test {
namespace {

constexpr char kRealTimeCamera[] = "sensor=200x160 noise=0";
constexpr int32_t kMinute = 60000000;

enum class When { kIdle, kShotExposure, kStreamExposure, kTriggeredStream, kBlackReference };
struct Unplug {
  const char* name;
  When when;
  int32_t result;  // of the operation under way (the stream's readiness check: negated)
};
const Unplug kUnplugs[] = {
    {"Idle", When::kIdle, 3},
    {"ShotExposure", When::kShotExposure, 3},
    {"StreamExposure", When::kStreamExposure, -3},
    {"TriggeredStreamWaiting", When::kTriggeredStream, -3},
    {"BlackReferenceLongFrame", When::kBlackReference, 4},
};

class UnplugTest : public AcquisitionTest, public ::testing::WithParamInterface<Unplug> {
 protected:
  std::string config() const override { return kRealTimeCamera; }
};

TEST_P(UnplugTest, EndsTheWaitAndTheCameraWorksAfterReplug) {
  const Unplug& u = GetParam();
  Buffer image(data_bytes(), 13);
  ProgressRecorder progress;
  const auto callback = &ProgressRecorder::callback;
  int32_t result = 0;
  switch (u.when) {
    case When::kIdle:
      ASSERT_EQ(ucap_vcam_detach(ids[0]), 0);
      result = UcapAcquisition(image.data(), image.size(), nullptr);
      EXPECT_EQ(UcapStartFastAcquisition(), 3);
      break;
    case When::kShotExposure:
      ASSERT_EQ(UcapSetExposure(kMinute), 0);
      progress.answer = [&](size_t call) { return call == 1 ? (ucap_vcam_detach(ids[0]), 0) : 0; };
      result = UcapAcquisitionEx(image.data(), image.size(), callback, progress.user());
      break;
    case When::kStreamExposure:
    case When::kTriggeredStream:
      if (u.when == When::kTriggeredStream) {
        ASSERT_EQ(UcapEnableHardwareTrigger(1), 0);
      } else {
        ASSERT_EQ(UcapSetExposure(kMinute), 0);
      }
      ASSERT_EQ(UcapStartFastAcquisition(), 0);
      ASSERT_EQ(UcapIsFastAcquisitionReady(image.data(), image.size(), 1), 0);  // no frame yet
      ASSERT_EQ(ucap_vcam_detach(ids[0]), 0);
      result = next_frame(image, 1);
      EXPECT_EQ(UcapIsFastAcquisitionReady(image.data(), image.size(), 1), -11);
      break;
    case When::kBlackReference:
      // The long frame's progress calls count its 16.4 s in total.
      progress.answer = [&](size_t) {
        if (progress.calls.back()[1] > 1000) ucap_vcam_detach(ids[0]);
        return 0;
      };
      result = UcapCalculateBlackRefEx(callback, progress.user());
      EXPECT_EQ(UcapHasBlackRef(), 0);
      break;
  }
  EXPECT_EQ(result, u.result);
  EXPECT_TRUE(image.untouched());

  auto closing = std::async(std::launch::async, [] { return UcapClose(); });
  ASSERT_EQ(closing.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(closing.get(), 0);
  UcapVcamUsage books{};
  ASSERT_EQ(ucap_vcam_usage(-1, &books), 0);
  EXPECT_EQ(books.handles + books.frame_buffers + books.resources + books.channels +
                books.bandwidth_handles,
            0);

  ASSERT_GE(ucap_vcam_attach(kRealTimeCamera), 0);  // plugged in again
  ASSERT_EQ(UcapInit(), 0);
  ASSERT_EQ(UcapGetNumberofCameras(), 1);
  Buffer shot(data_bytes(), 14);
  EXPECT_EQ(UcapAcquisition(shot.data(), shot.size(), nullptr), 0);
  ASSERT_EQ(UcapStartFastAcquisition(), 0);
  Buffer frame(data_bytes(), 15);
  EXPECT_EQ(next_frame(frame, 1), 1);
  EXPECT_EQ(UcapAbortFastAcquisition(), 0);
}

INSTANTIATE_TEST_SUITE_P(Acquisition, UnplugTest, ::testing::ValuesIn(kUnplugs), kByName);

}  // namespace
}  // namespace ucap_test
