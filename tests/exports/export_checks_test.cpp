// What the exports share, one table per rule: the camera index (3), null pointers (8),
// the busy refusal of the capture settings (10), the start values of a camera, and the
// exports with fixed answers or none at all.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "support/camera_fixture.h"
#include "ucap/ucap.h"

namespace {

using ucap_test::CameraTest;
using ucap_test::NoCameraTest;

// Scratch arguments. A refused call must not touch them, so their size does not matter.
int32_t a, b, c;
double x, y, z;
UcapRect rect{0, 0, 64, 64};
UcapInfoRecord info;
uint16_t words[8];
const double rgb[3] = {1.0, 1.0, 1.0};

struct Pair {
  const char* name;
  std::function<int32_t(int32_t)> indexed;  // the Ucapm form, given the index
  std::function<int32_t()> single;          // its Ucap twin, if it has one
};

// Every export that checks its camera index, with arguments it would accept.
const std::vector<Pair>& indexed_exports() {
  static const std::vector<Pair> rows = {
      {"Info", [](int32_t i) { return UcapmInfo(i, &info); }, [] { return UcapInfo(&info); }},
      {"GetResolutionValues", [](int32_t i) { return UcapmGetResolutionValues(i, 0, &a, &b, &c); },
       [] { return UcapGetResolutionValues(0, &a, &b, &c); }},
      {"set_resolution", [](int32_t i) { return UcapmSetResolution(i, 0); },
       [] { return UcapSetResolution(0); }},
      {"HasBitsPerPixel", [](int32_t i) { return UcapmHasBitsPerPixel(i, 36, &a); }, nullptr},
      {"set_bits_per_pixel", [](int32_t i) { return UcapmSetBitsPerPixel(i, 36); },
       [] { return UcapSetBitsPerPixel(36); }},
      {"HasBinning", [](int32_t i) { return UcapmHasBinning(i, 1, &a); }, nullptr},
      {"set_binning", [](int32_t i) { return UcapmSetBinning(i, 1); },
       [] { return UcapSetBinning(1); }},
      {"GetCurrentBinning", [](int32_t i) { return UcapmGetCurrentBinning(i, &a); }, nullptr},
      {"set_image_size", [](int32_t i) { return UcapmSetImageSize(i, &rect); },
       [] { return UcapSetImageSize(&rect); }},
      {"GetCurrentImageSize", [](int32_t i) { return UcapmGetCurrentImageSize(i, &rect); },
       [] { return UcapGetCurrentImageSize(&rect); }},
      {"set_frame_size", [](int32_t i) { return UcapmSetFrameSize(i, &rect); },
       [] { return UcapSetFrameSize(&rect); }},
      {"GetCurrentFrameSize", [](int32_t i) { return UcapmGetCurrentFrameSize(i, &rect); },
       [] { return UcapGetCurrentFrameSize(&rect); }},
      {"GetCurrentDataSize", [](int32_t i) { return UcapmGetCurrentDataSize(i, &a, &b); },
       [] { return UcapGetCurrentDataSize(&a, &b); }},
      {"set_exposure", [](int32_t i) { return UcapmSetExposure(i, 1000); },
       [] { return UcapSetExposure(1000); }},
      {"GetCurrentExposure", [](int32_t i) { return UcapmGetCurrentExposure(i, &a); }, nullptr},
      {"shutter_control", [](int32_t i) { return UcapmShutterControl(i, 1, 0); },
       [] { return UcapShutterControl(1, 0); }},
      {"set_shutter_delay", [](int32_t i) { return UcapmSetShutterDelay(i, 0, 0); },
       [] { return UcapSetShutterDelay(0, 0); }},
      {"GetCurrentShutterDelay", [](int32_t i) { return UcapmGetCurrentShutterDelay(i, &a, &b); },
       [] { return UcapGetCurrentShutterDelay(&a, &b); }},
      {"EnableHardwareTrigger", [](int32_t i) { return UcapmEnableHardwareTrigger(i, 0); },
       [] { return UcapEnableHardwareTrigger(0); }},
      {"SetHardwareTriggerPolarity",
       [](int32_t i) { return UcapmSetHardwareTriggerPolarity(i, 0); },
       [] { return UcapSetHardwareTriggerPolarity(0); }},
      {"IsHardwareTriggerEnabled", [](int32_t i) { return UcapmIsHardwareTriggerEnabled(i, &a); },
       [] { return UcapIsHardwareTriggerEnabled(&a); }},
      {"enable_packing", [](int32_t i) { return UcapmEnablePacking(i, 0); }, nullptr},
      {"EnableColorProcessing", [](int32_t i) { return UcapmEnableColorProcessing(i, 0); },
       nullptr},
      {"IsColorProcessingEnabled", [](int32_t i) { return UcapmIsColorProcessingEnabled(i, &a); },
       nullptr},
      {"set_white_balance", [](int32_t i) { return UcapmSetWhiteBalance(i, 1, 1, 1); },
       [] { return UcapSetWhiteBalance(1, 1, 1); }},
      {"set_image_white_balance", [](int32_t i) { return UcapmSetImageWhiteBalance(i, 1, 1, 1); },
       [] { return UcapSetImageWhiteBalance(1, 1, 1); }},
      {"set_color_saturation", [](int32_t i) { return UcapmSetColorSaturation(i, 1, 1, 1); },
       [] { return UcapSetColorSaturation(1, 1, 1); }},
      {"GetCurrentWhiteBalance",
       [](int32_t i) { return UcapmGetCurrentWhiteBalance(i, &x, &y, &z); },
       [] { return UcapGetCurrentWhiteBalance(&x, &y, &z); }},
      {"setwhite", [](int32_t i) { return Ucapm_setwhite(i, rgb); },
       [] { return Ucap_setwhite(rgb); }},
      {"save_black_ref", [](int32_t i) { return UcapmSaveBlackRef(i, words, 16); },
       [] { return UcapSaveBlackRef(words, 16); }},
      {"restore_black_ref", [](int32_t i) { return UcapmRestoreBlackRef(i, words, 16); },
       [] { return UcapRestoreBlackRef(words, 16); }},
      {"set_black_ref", [](int32_t i) { return UcapmSetBlackRef(i, 0); },
       [] { return UcapSetBlackRef(0); }},
      {"GetCurrentBlackRef", [](int32_t i) { return UcapmGetCurrentBlackRef(i, &a); }, nullptr},
      {"HasBlackRef", [](int32_t i) { return UcapmHasBlackRef(i, &a); }, nullptr},
      {"set_white_ref", [](int32_t i) { return UcapmSetWhiteRef(i, 0); },
       [] { return UcapSetWhiteRef(0); }},
      {"GetCurrentWhiteRef", [](int32_t i) { return UcapmGetCurrentWhiteRef(i, &a); }, nullptr},
      {"HasWhiteRef", [](int32_t i) { return UcapmHasWhiteRef(i, &a); }, nullptr},
      {"set_white_table", [](int32_t i) { return UcapmSetWhiteTable(i, words); },
       [] { return UcapSetWhiteTable(words); }},
      {"get_white_table", [](int32_t i) { return UcapmGetWhiteTable(i, words); },
       [] { return UcapGetWhiteTable(words); }},
      {"HasFrame", [](int32_t i) { return UcapmHasFrame(i, &a); }, nullptr},
      {"HasFastAcquisition", [](int32_t i) { return UcapmHasFastAcquisition(i, &a); }, nullptr},
  };
  return rows;
}

using ExportChecksNoCameraTest = NoCameraTest;
class ExportChecksTest : public CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {"sensor=1296x968"}; }
};

TEST_F(ExportChecksNoCameraTest, IndexedExportsAnswerThreeAndFixedAnswersNeedNoCamera) {
  for (const Pair& p : indexed_exports()) {
    EXPECT_EQ(p.indexed(0), 3) << p.name;
    if (p.single) {
      EXPECT_EQ(p.single(), 3) << p.name;
    }
  }
  // The twins that return a value answer 0; so do the indexed value queries.
  const std::vector<std::pair<const char*, std::function<int32_t()>>> values = {
      {"GetCurrentResolution", [] { return UcapGetCurrentResolution(); }},
      {"mGetCurrentResolution", [] { return UcapmGetCurrentResolution(0); }},
      {"GetCurrentBitsPerPixel", [] { return UcapGetCurrentBitsPerPixel(); }},
      {"mGetCurrentBitsPerPixel", [] { return UcapmGetCurrentBitsPerPixel(0); }},
      {"HasBitsPerPixel", [] { return UcapHasBitsPerPixel(36); }},
      {"HasBinning", [] { return UcapHasBinning(1); }},
      {"GetCurrentBinning", [] { return UcapGetCurrentBinning(); }},
      {"GetCurrentExposure", [] { return UcapGetCurrentExposure(); }},
      {"IsColorProcessingEnabled", [] { return UcapIsColorProcessingEnabled(); }},
      {"GetCurrentBlackRef", [] { return UcapGetCurrentBlackRef(); }},
      {"HasBlackRef", [] { return UcapHasBlackRef(); }},
      {"GetCurrentWhiteRef", [] { return UcapGetCurrentWhiteRef(); }},
      {"HasWhiteRef", [] { return UcapHasWhiteRef(); }},
      {"HasFrame", [] { return UcapHasFrame(); }},
      {"HasFastAcquisition", [] { return UcapHasFastAcquisition(); }},
  };
  for (const auto& [name, value] : values) EXPECT_EQ(value(), 0) << name;
  UcapEnableColorProcessing(1);  // nothing to do, and nothing goes wrong
  // The blemish switch is process-wide: set even with no camera, which answers 0.
  EXPECT_EQ(Ucap_corrblems(0), 0);
  EXPECT_EQ(ucap::state().blemish_switch.load(), 0);
  EXPECT_EQ(Ucapm_corrblems(-1, 7), 0);
  EXPECT_EQ(ucap::state().blemish_switch.load(), 7);
  Ucap_corrblems(1);
  // Fixed answers and exports that do nothing need no camera.
  struct Row {
    const char* name;
    std::function<int32_t()> call;
    int32_t expected;
  };
  const std::vector<Row> rows = {
      {"GetNumberOfResolutions", [] { return UcapGetNumberOfResolutions(); }, 4},
      {"mGetNumberOfResolutions", [] { return UcapmGetNumberOfResolutions(99); }, 4},
      {"HasImageSize", [] { return UcapHasImageSize(); }, 1},
      {"mHasImageSize",
       [] {
         a = 0;
         return UcapmHasImageSize(99, &a) * 10 + a;
       },
       1},
      {"GetExposureRange",
       [] {
         a = b = c = 0;
         return UcapmGetExposureRange(77, &a, &b, &c) == 0 && a == 250 && b == 60000000 && c == 250;
       },
       1},
      {"GetCurrentFadingCorrection", [] { return UcapGetCurrentFadingCorrection(); }, 0},
      {"GetCurrentMultiShotFilter", [] { return UcapGetCurrentMultiShotFilter(); }, 0},
      {"HasCalibration", [] { return UcapHasCalibration(); }, 0},
      {"IsSharpenerEnabled", [] { return UcapIsSharpenerEnabled(); }, 0},
      {"EnableSharpener", [] { return UcapEnableSharpener(1); }, 0},
      {"StripeAdjust", [] { return UcapStripeAdjust(); }, 0},
      {"WriteEprom", [] { return WriteEprom(); }, 0},
      {"outcomm", [] { return outcomm(); }, 0},
      {"ButtonWasPressed", [] { return UcapButtonWasPressed(); }, 15},
      {"Calibrate", [] { return UcapCalibrate(nullptr); }, 15},
      {"CalibrateEx", [] { return UcapCalibrateEx(nullptr, 0); }, 15},
      {"GetBloomingVoltage", [] { return UcapGetBloomingVoltage(&a); }, 15},
      {"GetPeltierVoltage", [] { return UcapGetPeltierVoltage(&a); }, 15},
      {"LoadCalibration", [] { return UcapLoadCalibration(words, 16); }, 15},
      {"ResetCalibration", [] { return UcapResetCalibration(); }, 15},
      {"SaveCalibration", [] { return UcapSaveCalibration(words, 16); }, 15},
      {"SetBloomingVoltage", [] { return UcapSetBloomingVoltage(1); }, 15},
      {"SetFadingCorrection", [] { return UcapSetFadingCorrection(1); }, 15},
      {"SetFadingCorrectionGainLimit", [] { return UcapSetFadingCorrectionGainLimit(1); }, 15},
      {"SetMultiShotFilter", [] { return UcapSetMultiShotFilter(1); }, 15},
      {"SetPeltierVoltage", [] { return UcapSetPeltierVoltage(1); }, 15},
      {"mEnableSharpener", [] { return UcapmEnableSharpener(5, 1); }, 15},
      {"mGetBloomingVoltage", [] { return UcapmGetBloomingVoltage(5, &a); }, 15},
      {"mGetCurrentMultiShotFilter", [] { return UcapmGetCurrentMultiShotFilter(5, &a); }, 15},
      {"mIsSharpenerEnabled", [] { return UcapmIsSharpenerEnabled(5, &a); }, 15},
      {"mSetBloomingVoltage", [] { return UcapmSetBloomingVoltage(5, 1); }, 15},
      {"mSetMultiShotFilter", [] { return UcapmSetMultiShotFilter(5, 1); }, 15},
  };
  for (const Row& r : rows) EXPECT_EQ(r.call(), r.expected) << r.name;
}

TEST_F(ExportChecksTest, IndicesThatNameNoCameraAnswerThree) {
  for (const Pair& p : indexed_exports()) {
    for (int32_t index : {1, -1, INT_MIN}) EXPECT_EQ(p.indexed(index), 3) << p.name << " " << index;
  }
  EXPECT_EQ(UcapmGetCurrentResolution(1), 0);  // value queries read no record either
  EXPECT_EQ(UcapmGetCurrentBitsPerPixel(-1), 0);
  EXPECT_EQ(Ucapm_corrblems(5, 1), 0);
  EXPECT_EQ(trace(ids[0]), "");
}

TEST_F(ExportChecksTest, NullPointersAnswerEight) {
  std::vector<uint16_t> store(970u * 1296u);
  ASSERT_EQ(UcapRestoreBlackRef(store.data(), 970 * 1296 * 2), 0);  // else saving refuses anyway
  ASSERT_EQ(UcapSetWhiteTable(store.data()), 0);                    // the same for reading out
  const std::vector<std::pair<const char*, std::function<int32_t()>>> calls = {
      {"Info", [] { return UcapInfo(nullptr); }},
      {"resolution_values width", [] { return UcapGetResolutionValues(0, nullptr, &b, &c); }},
      {"resolution_values height", [] { return UcapGetResolutionValues(0, &a, nullptr, &c); }},
      {"resolution_values third", [] { return UcapGetResolutionValues(0, &a, &b, nullptr); }},
      {"HasBitsPerPixel", [] { return UcapmHasBitsPerPixel(0, 36, nullptr); }},
      {"HasBinning", [] { return UcapmHasBinning(0, 1, nullptr); }},
      {"GetCurrentBinning", [] { return UcapmGetCurrentBinning(0, nullptr); }},
      {"GetCurrentImageSize", [] { return UcapGetCurrentImageSize(nullptr); }},
      {"GetCurrentFrameSize", [] { return UcapGetCurrentFrameSize(nullptr); }},
      {"DataSize width", [] { return UcapGetCurrentDataSize(nullptr, &b); }},
      {"DataSize height", [] { return UcapGetCurrentDataSize(&a, nullptr); }},
      {"HasImageSize", [] { return UcapmHasImageSize(0, nullptr); }},
      {"ExposureRange min", [] { return UcapGetExposureRange(nullptr, &b, &c); }},
      {"ExposureRange max", [] { return UcapGetExposureRange(&a, nullptr, &c); }},
      {"ExposureRange step", [] { return UcapGetExposureRange(&a, &b, nullptr); }},
      {"GetCurrentExposure", [] { return UcapmGetCurrentExposure(0, nullptr); }},
      {"ShutterDelay open", [] { return UcapGetCurrentShutterDelay(nullptr, &b); }},
      {"ShutterDelay close", [] { return UcapGetCurrentShutterDelay(&a, nullptr); }},
      {"IsHardwareTriggerEnabled", [] { return UcapIsHardwareTriggerEnabled(nullptr); }},
      {"IsColorProcessingEnabled", [] { return UcapmIsColorProcessingEnabled(0, nullptr); }},
      {"WhiteBalance red", [] { return UcapGetCurrentWhiteBalance(nullptr, &y, &z); }},
      {"WhiteBalance green", [] { return UcapGetCurrentWhiteBalance(&x, nullptr, &z); }},
      {"WhiteBalance blue", [] { return UcapGetCurrentWhiteBalance(&x, &y, nullptr); }},
      {"setwhite", [] { return Ucap_setwhite(nullptr); }},
      {"save_black_ref", [] { return UcapSaveBlackRef(nullptr, 970 * 1296 * 2); }},
      {"restore_black_ref", [] { return UcapRestoreBlackRef(nullptr, 970 * 1296 * 2); }},
      {"GetCurrentBlackRef", [] { return UcapmGetCurrentBlackRef(0, nullptr); }},
      {"HasBlackRef", [] { return UcapmHasBlackRef(0, nullptr); }},
      {"GetCurrentWhiteRef", [] { return UcapmGetCurrentWhiteRef(0, nullptr); }},
      {"HasWhiteRef", [] { return UcapmHasWhiteRef(0, nullptr); }},
      {"set_white_table", [] { return UcapSetWhiteTable(nullptr); }},
      {"get_white_table", [] { return UcapGetWhiteTable(nullptr); }},
      {"HasFrame", [] { return UcapmHasFrame(0, nullptr); }},
      {"HasFastAcquisition", [] { return UcapmHasFastAcquisition(0, nullptr); }},
  };
  for (const auto& [name, call] : calls) EXPECT_EQ(call(), 8) << name;
}

// The start values of a camera, as the queries of both families report them.
struct StartValue {
  const char* name;
  std::function<double()> query;
  double expected;
};

// A rectangle (0, 0, right, bottom) as the decimal digits of right, then bottom in four.
double digits(const UcapRect& r) { return r.left + r.top + 1e4 * r.right + r.bottom; }

const std::vector<StartValue>& start_values() {
  static const std::vector<StartValue> rows = {
      {"resolution", [] { return UcapGetCurrentResolution(); }, 0},
      {"m resolution", [] { return UcapmGetCurrentResolution(0); }, 0},
      {"bits", [] { return UcapGetCurrentBitsPerPixel(); }, 36},
      {"m bits", [] { return UcapmGetCurrentBitsPerPixel(0); }, 36},
      {"has 36 bits", [] { return UcapHasBitsPerPixel(36); }, 1},
      {"has binning 1", [] { return UcapHasBinning(1); }, 1},
      {"binning", [] { return UcapGetCurrentBinning(); }, 1},
      {"m binning", [] { return UcapmGetCurrentBinning(0, &a) == 0 ? a : -1; }, 1},
      {"image", [] { return UcapGetCurrentImageSize(&rect) == 0 ? digits(rect) : -1; }, 12960968},
      {"frame", [] { return UcapGetCurrentFrameSize(&rect) == 0 ? digits(rect) : -1; }, 12960968},
      {"data size", [] { return UcapGetCurrentDataSize(&a, &b) == 0 ? 1e4 * a + b : -1; },
       12960968},
      {"exposure", [] { return UcapGetCurrentExposure(); }, 100000},
      {"m exposure", [] { return UcapmGetCurrentExposure(0, &a) == 0 ? a : -1; }, 100000},
      {"delays",
       [] { return UcapGetCurrentShutterDelay(&a, &b) == 0 ? std::abs(a) + std::abs(b) : -1; }, 0},
      {"shutter enabled", [] { return ucap::camera(0)->shutter_enabled; }, 1},
      {"shutter level", [] { return ucap::camera(0)->shutter_level; }, 0},
      {"packing", [] { return ucap::camera(0)->packing; }, 1},
      {"trigger", [] { return UcapIsHardwareTriggerEnabled(&a) == 0 ? a : -1; }, 0},
      {"polarity", [] { return ucap::camera(0)->trigger_polarity.load(); }, 0},
      {"color processing", [] { return UcapIsColorProcessingEnabled(); }, 0},
      {"m color processing", [] { return UcapmIsColorProcessingEnabled(0, &a) == 0 ? a : -1; }, 0},
      {"white balance red", [] { return UcapGetCurrentWhiteBalance(&x, &y, &z) == 0 ? x : 0; },
       1.37},
      {"white balance green", [] { return UcapGetCurrentWhiteBalance(&x, &y, &z) == 0 ? y : 0; },
       1.93},
      {"white balance blue", [] { return UcapGetCurrentWhiteBalance(&x, &y, &z) == 0 ? z : 0; },
       1.0},
      {"black switch", [] { return UcapGetCurrentBlackRef(); }, 0},
      {"m black switch", [] { return UcapmGetCurrentBlackRef(0, &a) == 0 ? a : -1; }, 0},
      {"black present", [] { return UcapHasBlackRef(); }, 0},
      {"m black present", [] { return UcapmHasBlackRef(0, &a) == 0 ? a : -1; }, 0},
      {"white switch", [] { return UcapGetCurrentWhiteRef(); }, 0},
      {"m white switch", [] { return UcapmGetCurrentWhiteRef(0, &a) == 0 ? a : -1; }, 0},
      {"white present", [] { return UcapHasWhiteRef(); }, 0},
      {"m white present", [] { return UcapmHasWhiteRef(0, &a) == 0 ? a : -1; }, 0},
      {"has frame", [] { return UcapHasFrame(); }, 1},
      {"m has frame", [] { return UcapmHasFrame(0, &a) == 0 ? a : -1; }, 1},
      {"fast acquisition", [] { return UcapHasFastAcquisition(); }, 1},
      {"m fast acquisition", [] { return UcapmHasFastAcquisition(0, &a) == 0 ? a : -1; }, 1},
      {"messages", [] { return UcapGetCurrentErrorMessages(); }, 1},
      {"blemish switch", [] { return ucap::state().blemish_switch.load(); }, 1},
      {"matrix output 13288", [] { return ucap::camera(0)->tables.output[13288]; }, 1000},
  };
  return rows;
}

TEST_F(ExportChecksTest, StartValuesAndTheBusyRefusal) {
  for (const StartValue& v : start_values()) EXPECT_EQ(v.query(), v.expected) << v.name;

  // While a frame transfer is pending the capture settings refuse, before looking at
  // their arguments; the resolution checks its range first.
  cam().busy = 1;
  const std::vector<std::pair<const char*, std::function<int32_t()>>> refused = {
      {"set_resolution", [] { return UcapSetResolution(3); }},
      {"set_bits_per_pixel", [] { return UcapSetBitsPerPixel(24); }},
      {"set_binning", [] { return UcapSetBinning(9); }},
      {"set_image_size", [] { return UcapSetImageSize(&rect); }},
      {"set_image_size null", [] { return UcapSetImageSize(nullptr); }},
      {"set_frame_size", [] { return UcapSetFrameSize(&rect); }},
      {"set_frame_size null", [] { return UcapSetFrameSize(nullptr); }},
      {"set_exposure", [] { return UcapSetExposure(1); }},
      {"shutter_control", [] { return UcapShutterControl(0, 1); }},
      {"set_shutter_delay", [] { return UcapSetShutterDelay(5000000, 0); }},
      {"enable_packing", [] { return UcapmEnablePacking(0, 0); }},
      {"set_white_balance", [] { return UcapSetWhiteBalance(2, 0, 2); }},
      {"set_image_white_balance", [] { return UcapSetImageWhiteBalance(0, 1, 1); }},
      {"set_black_ref", [] { return UcapSetBlackRef(1); }},
      {"set_white_ref", [] { return UcapSetWhiteRef(1); }},
      // They rebuild the tables the stages read.
      {"set_color_saturation", [] { return UcapSetColorSaturation(1, 1, 1); }},
      {"setwhite", [] { return Ucap_setwhite(rgb); }},
  };
  for (const auto& [name, call] : refused) EXPECT_EQ(call(), 10) << name;
  EXPECT_EQ(UcapSetResolution(4), 8);
  for (const StartValue& v : start_values()) EXPECT_EQ(v.query(), v.expected) << v.name;
  EXPECT_EQ(trace(ids[0]), "");  // no shutter word reached the camera

  // The switches that take effect only at the next set-up and the stores are taken all
  // the same.
  std::vector<uint16_t> store(970u * 1296u);
  const std::vector<std::pair<const char*, std::function<int32_t()>>> taken = {
      {"EnableHardwareTrigger", [] { return UcapEnableHardwareTrigger(3); }},
      {"SetHardwareTriggerPolarity", [] { return UcapSetHardwareTriggerPolarity(1); }},
      {"EnableColorProcessing", [] { return UcapmEnableColorProcessing(0, 1); }},
      {"restore_black_ref", [&] { return UcapRestoreBlackRef(store.data(), 970 * 1296 * 2); }},
      {"save_black_ref", [&] { return UcapSaveBlackRef(store.data(), 970 * 1296 * 2); }},
      {"set_white_table", [&] { return UcapSetWhiteTable(store.data()); }},
      {"get_white_table", [&] { return UcapGetWhiteTable(store.data()); }},
  };
  for (const auto& [name, call] : taken) EXPECT_EQ(call(), 0) << name;
  EXPECT_EQ(trace(ids[0]), "");
  EXPECT_EQ(cam().hardware_trigger, 3);
  EXPECT_EQ(cam().trigger_polarity, 1);
  cam().busy = 0;
}

}  // namespace
