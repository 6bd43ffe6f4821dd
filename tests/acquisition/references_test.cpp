// Black and white reference calculations through the exports, the installation of a
// black reference from a work buffer, and image quality with both references applied.
#include <cmath>
#include <cstdio>
#include <tuple>

#include "acquisition_support.h"
#include "calibration/stores.h"
#include "flow/references.h"
#include "progress_recorder.h"

namespace ucap_test {
namespace {

// A noisy sensor on a clock 50 times faster: the 16.4 s dark frame takes a third of a
// second, and the capture wait of the shortest frame still has 60 ms.
class References : public AcquisitionTest {
 protected:
  std::string config() const override { return "sensor=200x160 timescale=50 dark=10"; }

  static std::vector<uint8_t> saved_black() {
    std::vector<uint8_t> bytes(162 * 200 * 2);
    EXPECT_EQ(UcapSaveBlackRef(bytes.data(), static_cast<int32_t>(bytes.size())), 0);
    return bytes;
  }
  static std::vector<uint16_t> white_table() {
    std::vector<uint16_t> table(160 * 200);
    EXPECT_EQ(UcapGetWhiteTable(table.data()), 0);
    return table;
  }
};

// Everything an application set survives both calculations, the image rectangle too.
TEST_F(References, SettingsAreUnchangedAfterwards) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=dark"), 0);
  apply(Setting{1, 36, 3});
  const UcapRect region{1, 1, 10, 10};
  ASSERT_EQ(UcapSetImageSize(&region), 0);
  ASSERT_EQ(UcapSetExposure(123456), 0);
  auto settings = [] {
    const ucap::CameraRecord& c = record();
    return std::tuple{c.resolution, c.bits_per_pixel, c.binning,         c.exposure,
                      c.image_rect, c.frame_rect,     c.black_ref_switch, c.white_ref_switch};
  };
  const auto before = settings();
  EXPECT_EQ(UcapCalculateBlackRef(nullptr), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=flat"), 0);
  EXPECT_EQ(UcapCalculateWhiteRef(nullptr), 0);
  EXPECT_EQ(settings(), before);
  EXPECT_EQ(record().reference_frame_mode.load(), 0);
  EXPECT_EQ(UcapHasBlackRef(), 1);
  EXPECT_EQ(UcapHasWhiteRef(), 1);
}

// Failed calculations: each code, the earlier reference kept as it was.
struct Failure {
  const char* name;
  bool black;
  const char* scene;
  int32_t answer;  // what the callback answers (1: stop)
  int32_t result;
};
const Failure kFailures[] = {
    {"BlackTooBright", true, "scene=flat", 0, 12},
    {"BlackAborted", true, "scene=dark", 1, 4},
    {"WhiteTooBright", false, "scene=flat level=6000", 0, 13},
    {"WhiteTooDark", false, "scene=dark", 0, 14},
    {"WhiteAborted", false, "scene=flat", 1, 4},
    // A frame with samples of 0x8000 makes sums of four frames past the histogram: they
    // count in its top bin.
    {"WhiteOverRange", false, "scene=flat overrange=1:8000", 0, 13},
};

class FailedCalculation : public References, public ::testing::WithParamInterface<Failure> {};

TEST_P(FailedCalculation, KeepsTheEarlierReference) {
  const Failure& f = GetParam();
  std::vector<uint8_t> black(162 * 200 * 2);
  for (size_t i = 0; i < black.size(); ++i) black[i] = static_cast<uint8_t>(i * 31);
  std::vector<uint16_t> white(160 * 200);
  for (size_t i = 0; i < white.size(); ++i) white[i] = static_cast<uint16_t>(4000 + i % 200);
  ASSERT_EQ(UcapRestoreBlackRef(black.data(), static_cast<int32_t>(black.size())), 0);
  ASSERT_EQ(UcapSetWhiteTable(white.data()), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], f.scene), 0);
  ASSERT_EQ(UcapmEnablePacking(0, 0), 0);
  ProgressRecorder progress;
  progress.answer = [&](size_t) { return f.answer; };
  const int32_t r = f.black ? UcapCalculateBlackRefEx(&ProgressRecorder::callback, progress.user())
                            : UcapCalculateWhiteRefEx(&ProgressRecorder::callback, progress.user());
  EXPECT_EQ(r, f.result);
  EXPECT_EQ(saved_black(), black);
  EXPECT_EQ(white_table(), white);
  if (f.answer != 0 && !f.black) {  // asked to stop before the first frame
    EXPECT_EQ(progress.calls, (std::vector<std::array<int32_t, 3>>{{0, 4, 1}}));
    EXPECT_EQ(ucap_vcam_frame_count(ids[0]), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Acquisition, FailedCalculation, ::testing::ValuesIn(kFailures),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(References, WhiteProgressCallsAroundEachFrame) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=flat"), 0);
  ProgressRecorder progress;
  ASSERT_EQ(UcapmCalculateWhiteRefEx(0, &ProgressRecorder::callback, progress.user()), 0);
  EXPECT_EQ(progress.calls, (std::vector<std::array<int32_t, 3>>{
                                {0, 4, 1}, {0, 4, 2}, {1, 4, 2}, {2, 4, 2}, {3, 4, 2}}));
}

// Spread (standard deviation over mean) of each mosaic color of a grey full-sensor image,
// two pixels in from the edges.
std::array<double, 3> color_spread(const std::vector<uint16_t>& image, int w, int h) {
  std::array<double, 3> sum{}, squares{}, count{};
  for (int y = 2; y < h - 2; ++y) {
    for (int x = 2; x < w - 2; ++x) {
      const int c = (y % 2 == x % 2) ? 2 * (y % 2) : 1;
      const double v = image[static_cast<size_t>(y) * w + x];
      sum[c] += v;
      squares[c] += v * v;
      count[c] += 1;
    }
  }
  std::array<double, 3> spread{};
  for (int c = 0; c < 3; ++c) {
    const double mean = sum[c] / count[c];
    spread[c] = std::sqrt(squares[c] / count[c] - mean * mean) / (mean - 32);
  }
  return spread;
}

// Through the whole chain with noisy frames: a flat field comes out flat once both
// references are applied (what remains is mostly the shot noise of one frame, about
// 2.6 % at this level), and darkness at the black level.
TEST_F(References, FlatFieldComesOutFlat) {
  apply(Setting{3, 12, 1});
  const int32_t n = data_bytes();
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=flat"), 0);
  Buffer raw(n, 1);
  ASSERT_EQ(UcapAcquisition(raw.data(), n, nullptr), 0);
  const std::array<double, 3> before = color_spread(raw.image(), 200, 160);

  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=dark"), 0);
  ASSERT_EQ(UcapCalculateBlackRef(nullptr), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=flat"), 0);
  ASSERT_EQ(UcapCalculateWhiteRef(nullptr), 0);
  ASSERT_EQ(UcapSetBlackRef(1), 0);
  ASSERT_EQ(UcapSetWhiteRef(1), 0);
  Buffer corrected(n, 2);
  ASSERT_EQ(UcapAcquisition(corrected.data(), n, nullptr), 0);
  const std::array<double, 3> after = color_spread(corrected.image(), 200, 160);
  for (int c = 0; c < 3; ++c) {
    std::printf("color %d: spread %.4f without references, %.4f with both\n", c, before[c], after[c]);
    EXPECT_LT(after[c], 0.8 * before[c]) << "color " << c;
  }

  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=dark"), 0);
  ASSERT_EQ(UcapSetExposure(1000000), 0);
  Buffer dark(n, 3);
  ASSERT_EQ(UcapAcquisition(dark.data(), n, nullptr), 0);
  double mean = 0;
  for (uint16_t v : dark.image()) mean += v;
  mean /= n / 2;
  std::printf("dark frame with references: mean %.2f\n", mean);
  EXPECT_NEAR(mean, 32.0, 1.5);
}

// Mean difference between the two greens of each mosaic cell (the one in the even column
// less the one in the odd column) over the rows from y0 on: the smear of the even columns.
double green_gap(const std::vector<uint16_t>& image, int w, int h, int y0) {
  double sum = 0;
  int count = 0;
  for (int y = y0 | 1; y < h; y += 2) {
    for (int x = 0; x + 1 < w; x += 2, ++count) {
      sum += image[static_cast<size_t>(y) * w + x] - image[static_cast<size_t>(y - 1) * w + x + 1];
    }
  }
  return sum / count;
}

// Below a bright bar every even column carries the smear of the bar's light; the smear
// correction takes it out of the noisy full-resolution image.
TEST_F(References, SmearBelowABrightBarIsRemoved) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=bar level=3500 smear=1e-4"), 0);
  apply(Setting{3, 12, 1});
  Buffer image(data_bytes(), 1);
  ASSERT_EQ(UcapAcquisition(image.data(), image.size(), nullptr), 0);
  std::vector<uint16_t> raw;
  ASSERT_TRUE(vcam::expected_frame(ids[0], vcam::FrameGeometry{2, 1, 0, 0, 200, 160, 400}, &raw));
  const double before = green_gap(raw, 200, 160, 60), after = green_gap(image.image(), 200, 160, 60);
  std::printf("smear below the bar: %.2f counts in the camera's frame, %.2f after correction\n",
              before, after);
  EXPECT_GT(before, 10.0);
  EXPECT_LT(std::abs(after), 0.1 * before);
}

// Mean blue, green and red above the black level over the middle of chart patch `patch`
// (6 x 4 patches inside a 5 % margin) of a color image.
std::array<double, 3> patch_color(const std::vector<uint16_t>& image, int w, int h, int patch) {
  const double left = w * (0.05 + 0.15 * (patch % 6)), top = h * (0.05 + 0.225 * (patch / 6));
  std::array<double, 3> sum{};
  int count = 0;
  for (int y = static_cast<int>(top + 0.07 * h); y < top + 0.16 * h; ++y) {
    for (int x = static_cast<int>(left + 0.04 * w); x < left + 0.11 * w; ++x, ++count) {
      for (int c = 0; c < 3; ++c) sum[c] += image[3 * (static_cast<size_t>(y) * w + x) + c] - 32;
    }
  }
  for (double& v : sum) v /= count;
  return sum;
}

// Largest spread of the three colors (max - min over their mean) among the chart's grey
// patches of 36 %, 19 % and 9 % reflectance (the two lighter ones are not quite grey).
double grey_tint(const std::vector<uint16_t>& image) {
  double worst = 0;
  for (int patch = 20; patch <= 22; ++patch) {
    const auto [b, g, r] = patch_color(image, 200, 160, patch);
    worst = std::max(worst, (std::max({b, g, r}) - std::min({b, g, r})) / ((b + g + r) / 3));
  }
  return worst;
}

class ImageWhiteBalance : public AcquisitionTest, public ::testing::WithParamInterface<int32_t> {};
// The chart's mid-grey patch measured in the image (exact frames: noise would bias the
// interpolated means) sets the white balance: afterwards its grey patches come out
// neutral, with and without the color matrix.
TEST_P(ImageWhiteBalance, MakesTheGreyPatchesNeutral) {
  apply(Setting{2, 36, 1});
  ASSERT_EQ(UcapmEnableColorProcessing(0, GetParam()), 0);
  Buffer before(data_bytes(), 1), after(data_bytes(), 2);
  ASSERT_EQ(UcapAcquisition(before.data(), before.size(), nullptr), 0);
  const auto [b, g, r] = patch_color(before.image(), 200, 160, 20);
  ASSERT_EQ(UcapSetImageWhiteBalance(r, g, b), 0);
  ASSERT_EQ(UcapAcquisition(after.data(), after.size(), nullptr), 0);
  std::printf("grey patches, color matrix %d: tint %.4f before, %.4f after\n", GetParam(),
              grey_tint(before.image()), grey_tint(after.image()));
  EXPECT_GT(grey_tint(before.image()), 0.3);
  EXPECT_LT(grey_tint(after.image()), 0.015);
}

INSTANTIATE_TEST_SUITE_P(Acquisition, ImageWhiteBalance, ::testing::Values(0, 1));

using SetBlackRef = AcquisitionTest;

// A work buffer of a uniform long frame b + d, column and row means b: the dark signal
// d everywhere, both offset rows 0.
TEST_F(SetBlackRef, InstallsTheStoredFormOfAWorkBuffer) {
  constexpr int W = 200, H = 160;
  std::vector<uint16_t> work(static_cast<size_t>(H + 2) * W, 0);
  std::fill(work.begin(), work.begin() + H * W, uint16_t{70});
  std::fill(work.begin() + H * W, work.begin() + H * W + W, uint16_t{30});
  std::fill(work.begin() + (H + 1) * W, work.begin() + (H + 1) * W + H, uint16_t{30});
  ASSERT_EQ(Ucapm_setBlackRef(&record(), work.data()), 0);
  EXPECT_EQ(UcapHasBlackRef(), 1);
  std::vector<uint16_t> stored(work.size());
  ASSERT_EQ(UcapSaveBlackRef(stored.data(), static_cast<int32_t>(stored.size() * 2)), 0);
  std::vector<uint16_t> expected(work.size(), 0);
  std::fill(expected.begin(), expected.begin() + H * W, uint16_t{40});
  EXPECT_EQ(stored, expected);
  // Anything but a record of the library is refused, and so is a missing buffer.
  ucap::CameraRecord* elsewhere = &record() + 1;
  EXPECT_EQ(Ucapm_setBlackRef(elsewhere, work.data()), 3);
  EXPECT_EQ(Ucapm_setBlackRef(work.data(), work.data()), 3);
  EXPECT_EQ(Ucapm_setBlackRef(&record(), nullptr), 8);
}

// A large dark value at a long exposure is scaled in 64 bits.
TEST_F(SetBlackRef, WhiteGainOfALargeDarkValue) {
  std::vector<uint16_t> sum(200 * 160, uint16_t{4 * 2079});
  sum[0] = 4 * 2000;
  std::fill(record().black_store, record().black_store + ucap::black_store_words(record()),
            uint16_t{0});
  record().black_store[0] = 10000;  // 10000 x 239999 passes 2^31: a dark part of 36620
  ASSERT_EQ(ucap::flow::CalculateWhiteRef(record(), sum.data(), 239999), 0);
  EXPECT_EQ(record().white_table[0], 4096);  // 2000 - 36620 is below the black level
  EXPECT_EQ(record().white_table[1], 2046 * 4096 / (2079 - 32));
}

}  // namespace
}  // namespace ucap_test
