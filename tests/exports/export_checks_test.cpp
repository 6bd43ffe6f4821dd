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

// A call and its text, for the messages; CALL(expression).
struct Call {
  const char* what;
  std::function<double()> run;
};
#define CALL(...) Call({#__VA_ARGS__, [&] { return static_cast<double>(__VA_ARGS__); }})
void expect_all(double expected, const std::vector<Call>& calls) {
  for (const Call& c : calls) EXPECT_EQ(c.run(), expected) << c.what;
}
void expect_each(const std::vector<std::pair<Call, double>>& rows) {
  for (const auto& [c, expected] : rows) EXPECT_EQ(c.run(), expected) << c.what;
}

// Every export that checks its camera index, with arguments it would accept: TWIN rows
// also have a Ucap form with the same arguments, INDEXED rows only the Ucapm form.
Pair row(const char* name, std::function<int32_t(int32_t)> indexed,
         std::function<int32_t()> single = nullptr) {
  return {name, std::move(indexed), std::move(single)};
}
// clang-format off
#define TWIN(f, ...) \
  row(#f, [](int32_t i) { return Ucapm##f(i, __VA_ARGS__); }, [] { return Ucap##f(__VA_ARGS__); })
#define INDEXED(f, ...) row(#f, [](int32_t i) { return Ucapm##f(i, __VA_ARGS__); })
const std::vector<Pair>& indexed_exports() {
  static const std::vector<Pair> rows = {
    TWIN(Info, &info), TWIN(GetResolutionValues, 0, &a, &b, &c), TWIN(SetResolution, 0),
    INDEXED(HasBitsPerPixel, 36, &a), TWIN(SetBitsPerPixel, 36), INDEXED(HasBinning, 1, &a),
    TWIN(SetBinning, 1), INDEXED(GetCurrentBinning, &a), TWIN(SetImageSize, &rect),
    TWIN(GetCurrentImageSize, &rect), TWIN(SetFrameSize, &rect), TWIN(GetCurrentFrameSize, &rect),
    TWIN(GetCurrentDataSize, &a, &b), TWIN(SetExposure, 1000), INDEXED(GetCurrentExposure, &a),
    TWIN(ShutterControl, 1, 0), TWIN(SetShutterDelay, 0, 0), TWIN(GetCurrentShutterDelay, &a, &b),
    TWIN(EnableHardwareTrigger, 0), TWIN(SetHardwareTriggerPolarity, 0),
    TWIN(IsHardwareTriggerEnabled, &a), INDEXED(EnablePacking, 0),
    INDEXED(EnableColorProcessing, 0), INDEXED(IsColorProcessingEnabled, &a),
    TWIN(SetWhiteBalance, 1, 1, 1),
    TWIN(SetImageWhiteBalance, 1, 1, 1), TWIN(SetColorSaturation, 1, 1, 1),
    TWIN(GetCurrentWhiteBalance, &x, &y, &z), TWIN(_setwhite, rgb), TWIN(SaveBlackRef, words, 16),
    TWIN(RestoreBlackRef, words, 16), TWIN(SetBlackRef, 0), INDEXED(GetCurrentBlackRef, &a),
    INDEXED(HasBlackRef, &a), TWIN(SetWhiteRef, 0), INDEXED(GetCurrentWhiteRef, &a),
    INDEXED(HasWhiteRef, &a), TWIN(SetWhiteTable, words), TWIN(GetWhiteTable, words),
    INDEXED(HasFrame, &a), INDEXED(HasFastAcquisition, &a),
  };
  return rows;
}
// clang-format on
#undef TWIN
#undef INDEXED

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
  // clang-format off
  expect_all(0, {
      CALL(UcapGetCurrentResolution()), CALL(UcapmGetCurrentResolution(0)),
      CALL(UcapGetCurrentBitsPerPixel()), CALL(UcapmGetCurrentBitsPerPixel(0)),
      CALL(UcapHasBitsPerPixel(36)), CALL(UcapHasBinning(1)), CALL(UcapGetCurrentBinning()),
      CALL(UcapGetCurrentExposure()), CALL(UcapIsColorProcessingEnabled()),
      CALL(UcapGetCurrentBlackRef()), CALL(UcapHasBlackRef()), CALL(UcapGetCurrentWhiteRef()),
      CALL(UcapHasWhiteRef()), CALL(UcapHasFrame()), CALL(UcapHasFastAcquisition()),
  });
  // clang-format on
  UcapEnableColorProcessing(1);  // nothing to do, and nothing goes wrong
  // The blemish switch is process-wide: set even with no camera, which answers 0.
  EXPECT_EQ(Ucap_corrblems(0), 0);
  EXPECT_EQ(ucap::state().blemish_switch.load(), 0);
  EXPECT_EQ(Ucapm_corrblems(-1, 7), 0);
  EXPECT_EQ(ucap::state().blemish_switch.load(), 7);
  Ucap_corrblems(1);
  // Fixed answers and exports that do nothing need no camera.
  a = b = c = 0;
  EXPECT_EQ(UcapmGetExposureRange(77, &a, &b, &c), 0);
  EXPECT_EQ((std::vector<int32_t>{a, b, c}), (std::vector<int32_t>{250, 60000000, 250}));
  a = 0;
  EXPECT_EQ(UcapmHasImageSize(99, &a), 0);
  EXPECT_EQ(a, 1);
  expect_each({{CALL(UcapGetNumberOfResolutions()), 4},
               {CALL(UcapmGetNumberOfResolutions(99)), 4},
               {CALL(UcapHasImageSize()), 1}});
  // clang-format off
  expect_all(0, {
      CALL(UcapGetCurrentFadingCorrection()), CALL(UcapGetCurrentMultiShotFilter()),
      CALL(UcapHasCalibration()), CALL(UcapIsSharpenerEnabled()), CALL(UcapEnableSharpener(1)),
      CALL(UcapStripeAdjust()), CALL(WriteEprom()), CALL(outcomm()),
  });
  // clang-format on
  // clang-format off
  expect_all(15, {
      CALL(UcapButtonWasPressed()), CALL(UcapCalibrate(nullptr)), CALL(UcapCalibrateEx(nullptr, 0)),
      CALL(UcapGetBloomingVoltage(&a)), CALL(UcapGetPeltierVoltage(&a)),
      CALL(UcapLoadCalibration(words, 16)), CALL(UcapResetCalibration()),
      CALL(UcapSaveCalibration(words, 16)), CALL(UcapSetBloomingVoltage(1)),
      CALL(UcapSetFadingCorrection(1)), CALL(UcapSetFadingCorrectionGainLimit(1)),
      CALL(UcapSetMultiShotFilter(1)), CALL(UcapSetPeltierVoltage(1)),
      CALL(UcapmEnableSharpener(5, 1)), CALL(UcapmGetBloomingVoltage(5, &a)),
      CALL(UcapmGetCurrentMultiShotFilter(5, &a)), CALL(UcapmIsSharpenerEnabled(5, &a)),
      CALL(UcapmSetBloomingVoltage(5, 1)), CALL(UcapmSetMultiShotFilter(5, 1)),
  });
  // clang-format on
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
  // clang-format off
  expect_all(8, {
      CALL(UcapInfo(nullptr)), CALL(UcapGetResolutionValues(0, nullptr, &b, &c)),
      CALL(UcapGetResolutionValues(0, &a, nullptr, &c)),
      CALL(UcapGetResolutionValues(0, &a, &b, nullptr)),
      CALL(UcapmHasBitsPerPixel(0, 36, nullptr)), CALL(UcapmHasBinning(0, 1, nullptr)),
      CALL(UcapmGetCurrentBinning(0, nullptr)), CALL(UcapGetCurrentImageSize(nullptr)),
      CALL(UcapGetCurrentFrameSize(nullptr)), CALL(UcapGetCurrentDataSize(nullptr, &b)),
      CALL(UcapGetCurrentDataSize(&a, nullptr)), CALL(UcapmHasImageSize(0, nullptr)),
      CALL(UcapGetExposureRange(nullptr, &b, &c)), CALL(UcapGetExposureRange(&a, nullptr, &c)),
      CALL(UcapGetExposureRange(&a, &b, nullptr)), CALL(UcapmGetCurrentExposure(0, nullptr)),
      CALL(UcapGetCurrentShutterDelay(nullptr, &b)), CALL(UcapGetCurrentShutterDelay(&a, nullptr)),
      CALL(UcapIsHardwareTriggerEnabled(nullptr)), CALL(UcapmIsColorProcessingEnabled(0, nullptr)),
      CALL(UcapGetCurrentWhiteBalance(nullptr, &y, &z)),
      CALL(UcapGetCurrentWhiteBalance(&x, nullptr, &z)),
      CALL(UcapGetCurrentWhiteBalance(&x, &y, nullptr)), CALL(Ucap_setwhite(nullptr)),
      CALL(UcapSaveBlackRef(nullptr, 970 * 1296 * 2)),
      CALL(UcapRestoreBlackRef(nullptr, 970 * 1296 * 2)),
      CALL(UcapmGetCurrentBlackRef(0, nullptr)), CALL(UcapmHasBlackRef(0, nullptr)),
      CALL(UcapmGetCurrentWhiteRef(0, nullptr)), CALL(UcapmHasWhiteRef(0, nullptr)),
      CALL(UcapSetWhiteTable(nullptr)), CALL(UcapGetWhiteTable(nullptr)),
      CALL(UcapmHasFrame(0, nullptr)), CALL(UcapmHasFastAcquisition(0, nullptr)),
  });
  // clang-format on
}

// The start values of a camera, as the queries of both families report them.
// A rectangle (0, 0, right, bottom) as the decimal digits of right, then bottom in four.
double digits(const UcapRect& r) { return r.left + r.top + 1e4 * r.right + r.bottom; }

const std::vector<std::pair<Call, double>>& start_values() {
  static const std::vector<std::pair<Call, double>> rows = {
      // clang-format off
      {CALL(UcapGetCurrentResolution()), 0}, {CALL(UcapmGetCurrentResolution(0)), 0},
      {CALL(UcapGetCurrentBitsPerPixel()), 36}, {CALL(UcapmGetCurrentBitsPerPixel(0)), 36},
      {CALL(UcapHasBitsPerPixel(36)), 1}, {CALL(UcapHasBinning(1)), 1},
      {CALL(UcapGetCurrentBinning()), 1}, {CALL(UcapmGetCurrentBinning(0, &a) == 0 ? a : -1), 1},
      {CALL(UcapGetCurrentImageSize(&rect) == 0 ? digits(rect) : -1), 12960968},
      {CALL(UcapGetCurrentFrameSize(&rect) == 0 ? digits(rect) : -1), 12960968},
      {CALL(UcapGetCurrentDataSize(&a, &b) == 0 ? 1e4 * a + b : -1), 12960968},
      {CALL(UcapGetCurrentExposure()), 100000},
      {CALL(UcapmGetCurrentExposure(0, &a) == 0 ? a : -1), 100000},
      {CALL(UcapGetCurrentShutterDelay(&a, &b) == 0 ? std::abs(a) + std::abs(b) : -1), 0},
      {CALL(ucap::camera(0)->shutter_enabled), 1}, {CALL(ucap::camera(0)->shutter_level), 0},
      {CALL(ucap::camera(0)->packing), 1},
      {CALL(UcapIsHardwareTriggerEnabled(&a) == 0 ? a : -1), 0},
      {CALL(ucap::camera(0)->trigger_polarity.load()), 0},
      {CALL(UcapIsColorProcessingEnabled()), 0},
      {CALL(UcapmIsColorProcessingEnabled(0, &a) == 0 ? a : -1), 0},
      {CALL(UcapGetCurrentWhiteBalance(&x, &y, &z) == 0 ? x : 0), 1.37},
      {CALL(UcapGetCurrentWhiteBalance(&x, &y, &z) == 0 ? y : 0), 1.93},
      {CALL(UcapGetCurrentWhiteBalance(&x, &y, &z) == 0 ? z : 0), 1.0},
      {CALL(UcapGetCurrentBlackRef()), 0}, {CALL(UcapmGetCurrentBlackRef(0, &a) == 0 ? a : -1), 0},
      {CALL(UcapHasBlackRef()), 0}, {CALL(UcapmHasBlackRef(0, &a) == 0 ? a : -1), 0},
      {CALL(UcapGetCurrentWhiteRef()), 0}, {CALL(UcapmGetCurrentWhiteRef(0, &a) == 0 ? a : -1), 0},
      {CALL(UcapHasWhiteRef()), 0}, {CALL(UcapmHasWhiteRef(0, &a) == 0 ? a : -1), 0},
      {CALL(UcapHasFrame()), 1}, {CALL(UcapmHasFrame(0, &a) == 0 ? a : -1), 1},
      {CALL(UcapHasFastAcquisition()), 1}, {CALL(UcapmHasFastAcquisition(0, &a) == 0 ? a : -1), 1},
      {CALL(UcapGetCurrentErrorMessages()), 1}, {CALL(ucap::state().blemish_switch.load()), 1},
      {CALL(ucap::camera(0)->tables.output[13288]), 1000},
      // clang-format on
  };
  return rows;
}

TEST_F(ExportChecksTest, StartValuesAndTheBusyRefusal) {
  expect_each(start_values());

  // While a frame transfer is pending the capture settings refuse, before looking at
  // their arguments; the resolution checks its range first.
  cam().busy = 1;
  // clang-format off
  expect_all(10, {
      CALL(UcapSetResolution(3)), CALL(UcapSetBitsPerPixel(24)), CALL(UcapSetBinning(9)),
      CALL(UcapSetImageSize(&rect)), CALL(UcapSetImageSize(nullptr)),
      CALL(UcapSetFrameSize(&rect)), CALL(UcapSetFrameSize(nullptr)),
      CALL(UcapSetExposure(1)), CALL(UcapShutterControl(0, 1)),
      CALL(UcapSetShutterDelay(5000000, 0)), CALL(UcapmEnablePacking(0, 0)),
      CALL(UcapSetWhiteBalance(2, 0, 2)), CALL(UcapSetImageWhiteBalance(0, 1, 1)),
      CALL(UcapSetBlackRef(1)), CALL(UcapSetWhiteRef(1)),
      CALL(UcapSetColorSaturation(1, 1, 1)), CALL(Ucap_setwhite(rgb)),
  });
  // clang-format on
  EXPECT_EQ(UcapSetResolution(4), 8);
  expect_each(start_values());
  EXPECT_EQ(trace(ids[0]), "");  // no shutter word reached the camera

  // The switches that take effect only at the next set-up and the stores are taken all
  // the same.
  std::vector<uint16_t> store(970u * 1296u);
  // clang-format off
  expect_all(0, {
      CALL(UcapEnableHardwareTrigger(3)), CALL(UcapSetHardwareTriggerPolarity(1)),
      CALL(UcapmEnableColorProcessing(0, 1)),
      CALL(UcapRestoreBlackRef(store.data(), 970 * 1296 * 2)),
      CALL(UcapSaveBlackRef(store.data(), 970 * 1296 * 2)), CALL(UcapSetWhiteTable(store.data())),
      CALL(UcapGetWhiteTable(store.data())),
  });
  // clang-format on
  EXPECT_EQ(trace(ids[0]), "");
  EXPECT_EQ(cam().hardware_trigger, 3);
  EXPECT_EQ(cam().trigger_polarity, 1);
  cam().busy = 0;
}

}  // namespace
