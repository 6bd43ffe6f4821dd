// Color settings and reference stores through the exports of both families.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/camera_fixture.h"
#include "ucap/ucap.h"

namespace {

using ucap_test::CameraTest;

constexpr int32_t kW = 2584;
constexpr int32_t kH = 1936;
constexpr int32_t kBlackBytes = (kH + 2) * kW * 2;
constexpr size_t kWhiteWords = static_cast<size_t>(kW) * kH;

std::vector<uint16_t> pattern(size_t words, uint32_t seed) {
  std::vector<uint16_t> v(words);
  for (size_t i = 0; i < words; ++i) v[i] = static_cast<uint16_t>(seed + i * 2654435761u);
  return v;
}

bool gains_are_identity(const ucap::CameraRecord& cam) {
  for (int i = 0; i < 3 * ucap::kTableSize; ++i)
    if ((&cam.tables.gain[0][0])[i] != i % ucap::kTableSize) return false;
  return true;
}

class ColorExportTest : public CameraTest {
 protected:
  std::vector<std::string> cameras() const override { return {"", ""}; }
};

// Each color setting acts on the camera its index names (what values do: the unit tests).
TEST_F(ColorExportTest, SettingsActOnTheCameraTheyName) {
  ASSERT_EQ(UcapmSetWhiteBalance(1, 2.0, 2.0, 2.0), 0);  // equal: identity gains
  EXPECT_TRUE(gains_are_identity(*ucap::camera(1)));
  EXPECT_FALSE(gains_are_identity(*ucap::camera(0)));
  double r = 0, g = 0, b = 0;
  ASSERT_EQ(UcapmSetImageWhiteBalance(1, 0.5, 1.0, 1.0), 0);
  ASSERT_EQ(UcapmGetCurrentWhiteBalance(1, &r, &g, &b), 0);
  EXPECT_EQ(r, 1.0);
  EXPECT_EQ(g, 2.0);
  // The tables are rebuilt without storing; the stored values bring them back.
  const double equal[3] = {3.0, 3.0, 3.0};
  ASSERT_EQ(Ucap_setwhite(equal), 0);
  EXPECT_TRUE(gains_are_identity(*ucap::camera(0)));
  ASSERT_EQ(UcapGetCurrentWhiteBalance(&r, &g, &b), 0);
  EXPECT_EQ(r, 1.37);
  const double stored[3] = {r, g, b};
  ASSERT_EQ(Ucap_setwhite(stored), 0);
  EXPECT_EQ(ucap::camera(0)->tables.gain[ucap::kBlue][33], 34);
  EXPECT_EQ(UcapSetWhiteBalance(1.0, 0.0, 1.0), 5);
  // Saturation 0 makes the matrix the identity: diagonal terms 4096 + x, the others 4096.
  ASSERT_EQ(UcapSetColorSaturation(0.0, 0.0, 0.0), 0);
  const ucap::CameraRecord& cam = *ucap::camera(0);
  for (int k = 0; k < 9; ++k)
    for (int v = 0; v < ucap::kTableSize; ++v)
      ASSERT_EQ(cam.tables.term[k][v], k % 4 == 0 ? 4096 + v : 4096) << k;
  EXPECT_NE(ucap::camera(1)->tables.term[0][100], 4096 + 100);  // camera 1 keeps its matrix
  ASSERT_EQ(UcapmSetColorSaturation(0, 1.0, 1.0, 1.0), 0);
  EXPECT_EQ(cam.tables.term[3][100], 4078);  // -17.6 + 4096
  // The color-processing switch is stored as given.
  UcapEnableColorProcessing(5);
  int32_t on = -1;
  ASSERT_EQ(UcapmEnableColorProcessing(1, 1), 0);
  EXPECT_EQ(UcapmIsColorProcessingEnabled(1, &on) == 0 ? on : -1, 1);
  EXPECT_EQ(UcapIsColorProcessingEnabled(), 5);
}

using StoresExportTest = CameraTest;

TEST_F(StoresExportTest, BlackReferenceAndWhiteTableRoundTrip) {
  EXPECT_EQ(UcapmSetBlackRef(0, 1), 8);
  EXPECT_EQ(UcapGetCurrentBlackRef(), 0);
  EXPECT_EQ(UcapHasBlackRef(), 0);
  std::vector<uint16_t> saved(kBlackBytes / 2 + 1, 0x5A5A);
  EXPECT_EQ(UcapSaveBlackRef(saved.data(), kBlackBytes), 8);  // nothing to save yet
  const std::vector<uint16_t> reference = pattern(kBlackBytes / 2, 17);
  ASSERT_EQ(UcapRestoreBlackRef(reference.data(), kBlackBytes), 0);
  EXPECT_EQ(UcapHasBlackRef(), 1);
  EXPECT_EQ(UcapGetCurrentBlackRef(), 0);
  int32_t value = -1;
  EXPECT_EQ(UcapmHasBlackRef(0, &value) == 0 ? value : -1, 1);
  EXPECT_EQ(UcapSaveBlackRef(saved.data(), kBlackBytes - 1), 8);
  for (uint16_t w : saved) ASSERT_EQ(w, 0x5A5A);
  ASSERT_EQ(UcapmSaveBlackRef(0, saved.data(), kBlackBytes), 0);
  EXPECT_EQ(std::vector<uint16_t>(saved.begin(), saved.end() - 1), reference);
  EXPECT_EQ(saved.back(), 0x5A5A);
  ASSERT_EQ(UcapmSetBlackRef(0, 7), 0);
  EXPECT_EQ(UcapmGetCurrentBlackRef(0, &value) == 0 ? value : -1, 1);
  EXPECT_EQ(UcapGetCurrentBlackRef(), 1);
  EXPECT_EQ(UcapRestoreBlackRef(reference.data(), kBlackBytes + 2), 8);
  std::vector<uint16_t> out(kWhiteWords, 1);
  EXPECT_EQ(UcapmGetWhiteTable(0, out.data()), 8);
  EXPECT_EQ(UcapSetWhiteRef(1), 8);
  EXPECT_EQ(UcapHasWhiteRef(), 0);
  std::vector<uint16_t> table = pattern(kWhiteWords, 99);
  table[0] = 0xFFFF;
  table[kWhiteWords - 1] = 0x8000;
  ASSERT_EQ(UcapSetWhiteTable(table.data()), 0);
  EXPECT_EQ(UcapHasWhiteRef(), 1);
  ASSERT_EQ(UcapGetWhiteTable(out.data()), 0);
  EXPECT_EQ(out, table);
  ASSERT_EQ(UcapmSetWhiteRef(0, 2), 0);
  EXPECT_EQ(UcapGetCurrentWhiteRef(), 1);
  EXPECT_EQ(UcapmGetCurrentWhiteRef(0, &value) == 0 ? value : -1, 1);
  EXPECT_EQ(UcapmHasWhiteRef(0, &value) == 0 ? value : -1, 1);
}

}  // namespace
