// Black and white reference calculations through the exports, a black reference from a
// work buffer, and image quality through the whole chain: references, smear, white balance.
#include <cmath>
#include <cstdio>
#include <tuple>

#include "acquisition_support.h"
#include "calibration/stores.h"
#include "flow/references.h"

namespace ucap_test {
namespace {

// A noisy sensor on a clock 20 times faster: the 16.4 s dark frame takes 0.8 s, and the
// capture wait of the shortest frame still has 150 ms.
class References : public AcquisitionTest {
 protected:
  std::string config() const override { return "sensor=200x160 timescale=20"; }
};

// Failed calculations: each its code, the earlier references kept as they were, and
// everything an application set (the image rectangle too) as it was.
struct Failure {
  const char* name;
  bool black;
  const char* camera;
  int32_t answer;  // what the callback answers (1: stop)
  int32_t result;
};
const Failure kFailures[] = {
    {"BlackTooBright", true, "scene=flat", 0, 12},
    {"BlackAborted", true, "scene=dark", 1, 4},
    {"WhiteTooBright", false, "scene=flat level=6000", 0, 13},
    {"WhiteTooDark", false, "scene=dark", 0, 14},
    {"WhiteAborted", false, "scene=flat", 1, 4},
    // One frame of samples 0x8000 makes sums of four frames beyond the histogram (packing
    // off): they count in its top bin.
    {"WhiteOverRange", false, "scene=flat overrange=1:8000", 0, 13},
};

class FailedCalculation : public References, public ::testing::WithParamInterface<Failure> {};

TEST_P(FailedCalculation, KeepsReferencesAndSettings) {
  const Failure& f = GetParam();
  std::vector<uint8_t> black(162 * 200 * 2), black_after(black.size());
  for (size_t i = 0; i < black.size(); ++i) black[i] = static_cast<uint8_t>(i * 31);
  std::vector<uint16_t> white(160 * 200), white_after(white.size());
  for (size_t i = 0; i < white.size(); ++i) white[i] = static_cast<uint16_t>(4000 + i % 200);
  ASSERT_EQ(UcapRestoreBlackRef(black.data(), static_cast<int32_t>(black.size())), 0);
  ASSERT_EQ(UcapSetWhiteTable(white.data()) + ucap_vcam_set(ids[0], f.camera), 0);
  apply(Setting{1, 36, 3});
  const UcapRect region{1, 1, 10, 10};
  ASSERT_EQ(UcapSetImageSize(&region) + UcapSetExposure(123456) + UcapmEnablePacking(0, 0), 0);
  auto settings = [] {
    const ucap::CameraRecord& c = record();
    return std::tuple{c.resolution, c.bits_per_pixel, c.binning,          c.exposure,
                      c.image_rect, c.frame_rect,     c.black_ref_switch, c.white_ref_switch};
  };
  const auto before = settings();
  ProgressRecorder progress;
  progress.answer = [&](size_t) { return f.answer; };
  EXPECT_EQ(f.black ? UcapCalculateBlackRefEx(&ProgressRecorder::callback, progress.user())
                    : UcapCalculateWhiteRefEx(&ProgressRecorder::callback, progress.user()),
            f.result);
  EXPECT_EQ(settings(), before);
  ASSERT_EQ(UcapSaveBlackRef(black_after.data(), static_cast<int32_t>(black.size())), 0);
  ASSERT_EQ(UcapGetWhiteTable(white_after.data()), 0);
  EXPECT_EQ(black_after, black);
  EXPECT_EQ(white_after, white);
}

INSTANTIATE_TEST_SUITE_P(Acquisition, FailedCalculation, ::testing::ValuesIn(kFailures), kByName);

// Noisy frames through the whole chain: after the black reference (dark scene) and the
// white reference (flat scene, four frames reported) a flat field comes out flat (what
// remains is mostly the shot noise of one frame, about 2.6 % with every color at the full
// level), and darkness at the black level.
TEST_F(References, FlatFieldComesOutFlat) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "response=1,1,1"), 0);
  apply(Setting{3, 12, 1});
  auto spread = [](const std::vector<uint16_t>& image) {  // per mosaic color, 2 pixels in
    std::array<double, 3> sum{}, squares{}, count{}, spread{};
    for (int y = 2; y < 158; ++y) {
      for (int x = 2; x < 198; ++x) {
        const int c = (y % 2 == x % 2) ? 2 * (y % 2) : 1;
        const double v = image[y * 200 + x];
        sum[c] += v, squares[c] += v * v, count[c] += 1;
      }
    }
    for (int c = 0; c < 3; ++c) {
      const double mean = sum[c] / count[c];
      spread[c] = std::sqrt(squares[c] / count[c] - mean * mean) / (mean - 32);
    }
    return spread;
  };
  Buffer raw(data_bytes(), 1), corrected(data_bytes(), 2), dark(data_bytes(), 3);
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=flat"), 0);
  ASSERT_EQ(UcapAcquisition(raw.data(), raw.size(), nullptr), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=dark"), 0);
  ASSERT_EQ(UcapCalculateBlackRef(nullptr), 0);
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=flat"), 0);
  ProgressRecorder progress;
  ASSERT_EQ(UcapCalculateWhiteRefEx(&ProgressRecorder::callback, progress.user()), 0);
  EXPECT_EQ(progress.calls, (std::vector<std::array<int32_t, 3>>{
                                {0, 4, 1}, {0, 4, 2}, {1, 4, 2}, {2, 4, 2}, {3, 4, 2}}));
  ASSERT_EQ(UcapSetBlackRef(1) + UcapSetWhiteRef(1), 0);
  ASSERT_EQ(UcapAcquisition(corrected.data(), corrected.size(), nullptr), 0);
  const auto before = spread(raw.image()), after = spread(corrected.image());
  for (int c = 0; c < 3; ++c) {
    std::printf("color %d: spread %.4f without references, %.4f with both\n", c, before[c],
                after[c]);
    EXPECT_LT(after[c], 0.8 * before[c]) << "color " << c;
  }
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=dark") + UcapSetExposure(1000000), 0);
  ASSERT_EQ(UcapAcquisition(dark.data(), dark.size(), nullptr), 0);
  double mean = 0;
  for (uint16_t v : dark.image()) mean += v / (dark.size() / 2.0);
  std::printf("dark frame with references: mean %.2f\n", mean);
  EXPECT_NEAR(mean, 32.0, 1.5);
}

// Below a bright bar every even column carries the smear of the bar's light: the mean
// difference between the two greens of each cell (even column less odd column). The
// smear correction takes it out of the noisy full-resolution image.
TEST_F(References, SmearBelowABrightBarIsRemoved) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "scene=bar level=3500 smear=1e-4"), 0);
  apply(Setting{3, 12, 1});
  Buffer image(data_bytes(), 1);
  ASSERT_EQ(UcapAcquisition(image.data(), image.size(), nullptr), 0);
  std::vector<uint16_t> raw;
  ASSERT_TRUE(vcam::expected_frame(ids[0], vcam::FrameGeometry{2, 1, 0, 0, 200, 160, 400}, &raw));
  auto smear = [](const std::vector<uint16_t>& f) {  // rows 60 to 159
    double sum = 0;
    for (int y = 61; y < 160; y += 2) {
      for (int x = 0; x < 200; x += 2) sum += f[y * 200 + x] - f[(y - 1) * 200 + x + 1];
    }
    return sum / (50 * 100);
  };
  std::printf("smear below the bar: %.2f counts in the camera's frame, %.2f after correction\n",
              smear(raw), smear(image.image()));
  EXPECT_GT(smear(raw), 10.0);
  EXPECT_LT(std::abs(smear(image.image())), 0.1 * smear(raw));
}

class ImageWhiteBalance : public AcquisitionTest, public ::testing::WithParamInterface<int32_t> {};

// Mean blue, green and red above black over the middle of chart patch `patch` (6 x 4
// patches inside a 5 % margin) of a 200 x 160 color image.
std::array<double, 3> patch_color(const std::vector<uint16_t>& image, int patch) {
  const int left = 10 + 30 * (patch % 6), top = 8 + 36 * (patch / 6);
  std::array<double, 3> sum{};
  for (int y = top + 11; y < top + 26; ++y) {
    for (int x = left + 8; x < left + 22; ++x) {
      for (int c = 0; c < 3; ++c) sum[c] += (image[3 * (y * 200 + x) + c] - 32) / (15.0 * 14);
    }
  }
  return sum;
}

// The chart's mid-grey patch measured in the image (exact frames: noise would bias the
// interpolated means) sets the white balance; afterwards its grey patches of 36 %, 19 %
// and 9 % (the two lighter ones are not quite grey) come out neutral, with and without the
// color matrix. Tint: the largest (max - min) / mean of the three colors. A sensor whose
// colors all answer white light alike starts out far from the default white balance.
TEST_P(ImageWhiteBalance, MakesTheGreyPatchesNeutral) {
  ASSERT_EQ(ucap_vcam_set(ids[0], "response=1,1,1"), 0);
  apply(Setting{2, 36, 1});
  ASSERT_EQ(UcapmEnableColorProcessing(0, GetParam()), 0);
  auto tint = [](const std::vector<uint16_t>& image) {
    double worst = 0;
    for (int patch = 20; patch <= 22; ++patch) {
      const auto [b, g, r] = patch_color(image, patch);
      worst = std::max(worst, (std::max({b, g, r}) - std::min({b, g, r})) / ((b + g + r) / 3));
    }
    return worst;
  };
  Buffer before(data_bytes(), 1), after(data_bytes(), 2);
  ASSERT_EQ(UcapAcquisition(before.data(), before.size(), nullptr), 0);
  const auto [b, g, r] = patch_color(before.image(), 20);
  ASSERT_EQ(UcapSetImageWhiteBalance(r, g, b), 0);
  ASSERT_EQ(UcapAcquisition(after.data(), after.size(), nullptr), 0);
  std::printf("grey patches, color matrix %d: tint %.4f before, %.4f after\n", GetParam(),
              tint(before.image()), tint(after.image()));
  EXPECT_GT(tint(before.image()), 0.3);
  EXPECT_LT(tint(after.image()), 0.015);
}

INSTANTIATE_TEST_SUITE_P(Acquisition, ImageWhiteBalance, ::testing::Values(0, 1));

using set_black_ref = AcquisitionTest;

// A work buffer of a uniform long frame b + d whose column and row means are b: the dark
// signal d everywhere, both offset rows 0. Anything but a record of the library is
// refused, and so is a missing buffer.
TEST_F(set_black_ref, InstallsTheStoredFormOfAWorkBuffer) {
  constexpr int W = 200, H = 160;
  std::vector<uint16_t> work(H * W, 70), stored((H + 2) * W), expected(H * W, 40);
  work.resize(work.size() + W + H, 30);
  work.resize(stored.size(), 0);
  expected.resize(stored.size(), 0);
  ASSERT_EQ(Ucapm_setBlackRef(&record(), work.data()), 0);
  ASSERT_EQ(UcapSaveBlackRef(stored.data(), static_cast<int32_t>(stored.size() * 2)), 0);
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(Ucapm_setBlackRef(&record() + 1, work.data()), 3);
  EXPECT_EQ(Ucapm_setBlackRef(work.data(), work.data()), 3);
  EXPECT_EQ(Ucapm_setBlackRef(&record(), nullptr), 8);
}

// A large dark value at a long exposure is scaled in 64 bits.
TEST_F(set_black_ref, WhiteGainOfALargeDarkValue) {
  std::vector<uint16_t> sum(200 * 160, uint16_t{4 * 2079});
  sum[0] = 4 * 2000;
  std::fill(record().black_store, record().black_store + ucap::black_store_words(record()), 0);
  record().black_store[0] = 10000;  // 10000 x 239999 passes 2^31: a dark part of 36620
  ASSERT_EQ(ucap::flow::CalculateWhiteRef(record(), sum.data(), 239999), 0);
  EXPECT_EQ(record().white_table[0], 4096);  // 2000 - 36620 is below the black level
  EXPECT_EQ(record().white_table[1], 2046 * 4096 / (2079 - 32));
}

}  // namespace
}  // namespace ucap_test
