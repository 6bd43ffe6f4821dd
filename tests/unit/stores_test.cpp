// Reference stores on a camera record: exact sizes, refusals that leave stores and
// buffers untouched, and sensor geometries the stores cannot hold. (Switches, flags and
// the busy rule are tested through the exports.)
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "calibration/stores.h"
#include "core/record.h"

namespace {

class StoresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cam = std::make_unique<ucap::CameraRecord>();
    cam->sensor_width = kW;
    cam->sensor_height = kH;
  }
  static constexpr int32_t kW = 64;
  static constexpr int32_t kH = 48;
  static constexpr int32_t kBlackBytes = (kH + 2) * kW * 2;
  std::unique_ptr<ucap::CameraRecord> cam;

  static std::vector<uint16_t> pattern(size_t words, uint16_t seed) {
    std::vector<uint16_t> v(words);
    for (size_t i = 0; i < words; ++i) v[i] = static_cast<uint16_t>(seed + i * 40503u);
    return v;
  }
};

TEST_F(StoresTest, SaveDemandsTheExactSizeAndAReference) {
  std::vector<uint16_t> out(kBlackBytes / 2 + 8, 0xABCD);
  EXPECT_EQ(ucap::save_black_ref(*cam, out.data(), kBlackBytes), 8);  // nothing stored yet
  const auto data = pattern(kBlackBytes / 2, 11);
  ASSERT_EQ(ucap::restore_black_ref(*cam, data.data(), kBlackBytes), 0);
  EXPECT_EQ(ucap::save_black_ref(*cam, out.data(), kBlackBytes - 1), 8);
  EXPECT_EQ(ucap::save_black_ref(*cam, out.data(), kBlackBytes + 2), 8);
  EXPECT_EQ(ucap::save_black_ref(*cam, out.data(), -kBlackBytes), 8);
  EXPECT_EQ(ucap::save_black_ref(*cam, nullptr, kBlackBytes), 8);
  for (uint16_t w : out) ASSERT_EQ(w, 0xABCD);  // refused saves write nothing
  ASSERT_EQ(ucap::save_black_ref(*cam, out.data(), kBlackBytes), 0);
  EXPECT_EQ(std::vector<uint16_t>(out.begin(), out.begin() + kBlackBytes / 2), data);
  for (size_t i = kBlackBytes / 2; i < out.size(); ++i) EXPECT_EQ(out[i], 0xABCD);
}

TEST_F(StoresTest, RestoreRefusesWrongSizesAndKeepsTheStore) {
  const auto first = pattern(kBlackBytes / 2, 1);
  ASSERT_EQ(ucap::restore_black_ref(*cam, first.data(), kBlackBytes), 0);
  const auto second = pattern(kBlackBytes / 2 + 1, 2);
  EXPECT_EQ(ucap::restore_black_ref(*cam, second.data(), kBlackBytes + 2), 8);
  EXPECT_EQ(ucap::restore_black_ref(*cam, second.data(), kBlackBytes - 2), 8);
  EXPECT_EQ(ucap::restore_black_ref(*cam, nullptr, kBlackBytes), 8);
  std::vector<uint16_t> out(kBlackBytes / 2);
  ASSERT_EQ(ucap::save_black_ref(*cam, out.data(), kBlackBytes), 0);
  EXPECT_EQ(out, first);
}

TEST_F(StoresTest, GeometryTheStoresCannotHoldIsRefused) {
  // Taller than wide: the row-offset row cannot hold H values.
  cam->sensor_width = 40;
  cam->sensor_height = 48;
  const auto data = pattern(50 * 40, 1);
  EXPECT_EQ(ucap::restore_black_ref(*cam, data.data(), 50 * 40 * 2), 8);
  EXPECT_EQ(ucap::set_white_table(*cam, data.data()), 8);
  // Wider than the record is sized for.
  cam->sensor_width = ucap::kMaxSensorWidth + 2;
  cam->sensor_height = 2;
  EXPECT_EQ(ucap::black_store_words(*cam), 0u);
  EXPECT_EQ(ucap::set_white_table(*cam, data.data()), 8);
  EXPECT_EQ(cam->white_ref_present, 0);
  EXPECT_EQ(cam->black_ref_present, 0);
}

TEST_F(StoresTest, WhiteTableRoundTripsUnchecked) {
  std::vector<uint16_t> out(kW * kH, 7);
  EXPECT_EQ(ucap::get_white_table(*cam, out.data()), 8);
  EXPECT_EQ(ucap::set_white_ref(*cam, 1), 8);
  EXPECT_EQ(cam->white_ref_switch, 0);
  EXPECT_EQ(ucap::set_white_table(*cam, nullptr), 8);
  EXPECT_EQ(cam->white_ref_present, 0);
  auto table = pattern(kW * kH, 9);
  table[0] = 65535;  // values above 32767 are taken as they are
  table[1] = 32768;
  ASSERT_EQ(ucap::set_white_table(*cam, table.data()), 0);
  EXPECT_EQ(cam->white_ref_present, 1);
  EXPECT_EQ(ucap::get_white_table(*cam, nullptr), 8);
  ASSERT_EQ(ucap::get_white_table(*cam, out.data()), 0);
  EXPECT_EQ(out, table);
  EXPECT_EQ(ucap::set_white_ref(*cam, -3), 0);
  EXPECT_EQ(cam->white_ref_switch, 1);
}

}  // namespace
