// Every fault the virtual camera injects, in every phase of a single shot, a stream and the
// two reference calculations: each gives its code from the table and its message, leaves
// the caller's buffer (for the calculations: the stored references) alone unless it
// succeeded, gives the bus's isochronous resources back, and the next shot works (or
// answers 3 when the camera is gone).
#include <string>

#include "acquisition_support.h"

namespace ucap_test {
namespace {

enum class Op { kShot, kStream, kBlack, kWhite };
// What the driver still holds after the operation: a clean-up refused to stop the transfer
// holds everything, one refused to free a resource holds that one; the next set-up frees it.
enum class Held { kNothing, kUntilNext, kResources, kChannel, kBandwidth };

struct Fault {
  const char* name;
  const char* config;  // set on the camera before the operation
  int32_t shot;        // single shot's result
  int32_t stream;      // the start's code when it fails, else the readiness check's answer
  int32_t black = 4, white = 4;
  Held held = Held::kNothing;
  bool gone = false;        // the camera is unplugged by the fault
  bool bus_reset = false;   // a bus reset at the first progress call / after the start
  bool allocation = false;  // the next work-buffer allocation fails
};

// Addresses of mode 2 (resolution 2 and the full-frame shots of the calculations).
const Fault kFaults[] = {
    // set-up
    {"WaitSetupRefused", "fail_ioctl=2220F0:50:31", 21, 21},
    {"AccessNotOpened", "fail_write=vendor+0:50:31", 1031, 1031},
    {"BinningWrite", "fail_write=vendor+144:50:31", 1032, 1032},
    {"PositionWrite", "fail_write=vendor+150:50:31", 1033, 1033},
    {"SizeWrite", "fail_write=vendor+154:50:31", 1034, 1034},
    {"CaptureControlRead", "fail_read=vendor+30:50:31", 20, 20},
    {"CaptureControlWrite", "fail_write=vendor+30:50:31", 1035, 1035},
    {"ExposureWrite", "fail_write=vendor+14:50:31", 1036, 1036},
    {"ModeApplyWrite", "fail_write=vendor+15C:50:31", 20, 20},
    {"ModeApplyErrorBit", "apply_error=1", 20, 20},
    {"ModeApplyStuck", "apply_stuck=1", 20, 20},
    {"ColorCodingWrite", "fail_write=mode2+10:50:31", 1037, 1037},
    {"ApplySettingsWrite", "fail_write=mode2+7C:50:31", 1038, 1038},
    {"ApplySettingsErrorBit", "settings_error=1", 8, 8},
    {"ApplySettingsStuck", "settings_stuck=1", 20, 20},
    {"ApplySettingsPollRead", "fail_read=mode2+7C:50:31", 20, 20},
    {"FormatWrite", "fail_write=cmd+608:50:31", 1039, 1039},
    {"ModeWrite", "fail_write=cmd+604:50:31", 1040, 1040},
    {"BytesPerPacketRead", "fail_read=mode2+44:50:31", 20, 20},
    {"PacketsPerFrameRead", "fail_read=mode2+48:50:31", 20, 20},
    {"NoPacketsAnnounced", "misreport=mode2+48:0", 8, 8},
    {"BandwidthRefused", "fail_ioctl=222014:50:31", 22, 22},
    {"ChannelRefused", "fail_ioctl=222018:50:31", 25, 25},
    {"ChannelWrite", "fail_write=cmd+60C:50:31", 1041, 1041},
    {"ShutterWrite", "fail_write=cmd+81C:50:31", 1042, 1042},
    {"ResourcesRefused", "fail_ioctl=22201C:50:31", 23, 23},
    {"PositionRead", "fail_read=mode2+8:50:31", 20, 20},
    {"SizeRead", "fail_read=mode2+C:50:31", 20, 20},
    {"SizeBeyondTheSensor", "misreport=mode2+C:FFFFFFFF", 8, 8},
    {"AccessLapsed", "lapse=1", 0, 1, 0, 0},
    {"AccessLapsesMidway", "lapse_after=3", 0, 1, 0, 0},
    {"SingleFailuresRetried", "fail_write=vendor+144:2:31 fail_read=mode2+44:2:121", 0, 1, 0, 0},
    // exposure and transfer
    {"BufferSelectRefused", "fail_ioctl=222108:50:31", 24, -24},
    {"AttachRefused", "fail_ioctl=222020:50:31", 24, -24},
    {"FrameDropped", "drop_frames=1", 21, -21},
    {"UnpluggedInExposure", "detach_in_exposure=1", 3, -3, 4, 4, Held::kNothing, true},
    {"UnpluggedAfterTheFrame", "detach_after=1", 3, 1, 4, 4, Held::kNothing, true},
    {"BusReset", "", 0, 1, 0, 0, Held::kNothing, false, true},
    // processing
    {"SamplesOverRange", "overrange=1", 0, 1, 0, 0},
    {"NoWorkBuffer", "", 7, -7, 7, 7, Held::kNothing, false, false, true},
    // clean-up
    {"StopRefused", "fail_ioctl=222044:50:31", 26, 1, 4, 4, Held::kUntilNext},
    {"FreeResourcesRefused", "fail_ioctl=222030:50:31", 23, 1, 4, 4, Held::kResources},
    {"FreeChannelRefused", "fail_ioctl=22202C:50:31", 25, 1, 4, 4, Held::kChannel},
    {"FreeBandwidthRefused", "fail_ioctl=222028:50:31", 22, 1, 4, 4, Held::kBandwidth},
};

struct Case {
  Op op;
  const Fault* fault;
};
std::vector<Case> all_cases() {
  std::vector<Case> cases;
  for (const Fault& f : kFaults)
    for (Op op : {Op::kShot, Op::kStream, Op::kBlack, Op::kWhite}) cases.push_back({op, &f});
  return cases;
}
std::string case_name(const ::testing::TestParamInfo<Case>& info) {
  static const char* const kOps[] = {"Shot", "Stream", "Black", "White"};
  return std::string(kOps[static_cast<int>(info.param.op)]) + "_" + info.param.fault->name;
}

// The words that end the lasting faults of a configuration: request and register faults
// (counts of 0) and misreports.
std::string clearing(const std::string& config) {
  std::string words;
  size_t at = 0;
  while (at < config.size()) {
    size_t end = config.find(' ', at);
    if (end == std::string::npos) end = config.size();
    const std::string word = config.substr(at, end - at);
    const size_t colon = word.find(':');
    if (word.rfind("fail_", 0) == 0) words += word.substr(0, colon) + ":0:31 ";
    if (word.rfind("misreport=", 0) == 0) words += word.substr(0, colon) + ":- ";
    at = end + 1;
  }
  return words;
}

class FaultMatrix : public AcquisitionTest, public ::testing::WithParamInterface<Case> {
 protected:
  void SetUp() override {
    AcquisitionTest::SetUp();
    ASSERT_EQ(UcapSetResolution(2), 0);
    ASSERT_EQ(UcapSetBitsPerPixel(36), 0);
    ASSERT_EQ(UcapSetExposure(1000), 0);
  }

  static void expect_held(Held held) {
    UcapVcamUsage u{};
    ASSERT_EQ(ucap_vcam_usage(-1, &u), 0);
    const bool all = held == Held::kUntilNext;
    EXPECT_EQ(u.resources, all || held == Held::kResources ? 1 : 0);
    EXPECT_EQ(u.channels, all || held == Held::kChannel ? 1 : 0);
    EXPECT_EQ(u.bandwidth_handles, all || held == Held::kBandwidth ? 1 : 0);
  }
};

TEST_P(FaultMatrix, DefinedOutcome) {
  const Fault& f = *GetParam().fault;
  const Op op = GetParam().op;
  // A dark scene of little dark current; a flat field well exposed.
  const char* scene = op == Op::kBlack ? "scene=dark dark=5" : op == Op::kWhite ? "scene=flat" : "";
  ASSERT_EQ(ucap_vcam_set(ids[0], scene), 0);
  if (op == Op::kWhite) {
    ASSERT_EQ(UcapSetExposure(150000), 0);
  }
  // References in place before a calculation: a failed one must leave them as they were.
  std::vector<uint8_t> black(162 * 200 * 2);
  for (size_t i = 0; i < black.size(); ++i) black[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint16_t> white(160 * 200, 4096);
  ASSERT_EQ(UcapRestoreBlackRef(black.data(), static_cast<int32_t>(black.size())), 0);
  ASSERT_EQ(UcapSetWhiteTable(white.data()), 0);

  MessageCapture messages;
  ASSERT_EQ(ucap_vcam_set(ids[0], f.config), 0) << f.config;
  if (f.allocation) ucap::platform::testing::fail_work_allocations(1);
  ProgressRecorder progress;
  progress.answer = [&](size_t call) {
    if (f.bus_reset && call == 0) ucap_vcam_bus_reset();
    return 0;
  };
  const auto callback = &ProgressRecorder::callback;
  Buffer image(data_bytes(), 11);
  int32_t result = 0;
  std::string message;  // the last line reported, "" for none
  switch (op) {
    case Op::kShot:
      result = UcapAcquisitionEx(image.data(), image.size(), callback, progress.user());
      EXPECT_EQ(result, f.shot);
      if (result != 0 && result != 7)
        message = "(0)UcapAcquisition error " + std::to_string(result);
      break;
    case Op::kStream: {
      result = UcapStartFastAcquisition();
      if (result != 0) {
        message = "(0)UcapStartFastAcquisition error " + std::to_string(result);
      } else {
        if (f.bus_reset) ucap_vcam_bus_reset();
        result = next_frame(image, 0);
        if (result == 1 && f.shot != 0)
          message = "UcapIsFastAcquisitionReady error " + std::to_string(f.shot);
      }
      EXPECT_EQ(result, f.stream);
      if (result < 0 && result != -7) {
        EXPECT_EQ(messages.lines().back().rfind("(0)UcapIsFastAcquisitionReady error ", 0), 0u);
      }
      if (result == 1) result = 0;
      break;
    }
    case Op::kBlack:
    case Op::kWhite:
      result = op == Op::kBlack ? UcapCalculateBlackRefEx(callback, progress.user())
                                : UcapCalculateWhiteRefEx(callback, progress.user());
      EXPECT_EQ(result, op == Op::kBlack ? f.black : f.white);
      if (result == 4) message = "(0)getfullframe error " + std::to_string(f.shot);
      if (result == 7) {
        message = op == Op::kBlack ? "(0)Not enough memory in routine UcapCalculateBlackRef"
                                   : "(0)Not enough memory in routine UcapCalculateWhiteRef";
      }
      break;
  }
  if (!message.empty()) {
    EXPECT_EQ(messages.lines().empty() ? "" : messages.lines().back(), message);
  }
  if (result != 0) {
    EXPECT_TRUE(image.untouched());
    std::vector<uint8_t> black_now(black.size());
    if (op == Op::kBlack) {
      ASSERT_EQ(UcapSaveBlackRef(black_now.data(), static_cast<int32_t>(black_now.size())), 0);
      EXPECT_EQ(black_now, black);
    }
    std::vector<uint16_t> white_now(white.size());
    ASSERT_EQ(UcapGetWhiteTable(white_now.data()), 0);
    EXPECT_EQ(white_now, white);
  } else if (op == Op::kShot || op == Op::kStream) {
    for (uint16_t v : image.image()) ASSERT_LE(v, 4095);
  }
  EXPECT_TRUE(image.tail_untouched());
  expect_held(f.held);

  ASSERT_EQ(ucap_vcam_set(ids[0], ("scene=chart " + clearing(f.config)).c_str()), f.gone ? -1 : 0);
  ASSERT_EQ(UcapSetExposure(1000), 0);
  Buffer next(data_bytes(), 12);
  EXPECT_EQ(UcapAcquisition(next.data(), next.size(), nullptr), f.gone ? 3 : 0);
  expect_held(Held::kNothing);  // what a clean-up could not free, the next set-up did
}

INSTANTIATE_TEST_SUITE_P(Acquisition, FaultMatrix, ::testing::ValuesIn(all_cases()), case_name);

}  // namespace
}  // namespace ucap_test
