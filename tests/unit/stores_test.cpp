// Reference stores on a camera record: the sensor geometries the stores can hold, also
// those that start-up never lets through. (Everything else is tested through the exports.)
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "calibration/stores.h"
#include "core/record.h"

namespace {

TEST(Stores, HoldOnlySensorsNoWiderOrTallerThanTheRecordAndNoTallerThanWide) {
  const struct {
    int32_t w, h;
    bool fits;
  } sensors[] = {
      {40, 48, false},  // taller than wide: the row-offset row cannot hold H values
      {48, 48, true},
      {2, 1, true},
      {1, 1, true},
      {4, 0, false},
      {ucap::kMaxSensorWidth + 2, 2, false},
      {ucap::kMaxSensorWidth, ucap::kMaxSensorHeight, true},
      {ucap::kMaxSensorWidth, ucap::kMaxSensorHeight + 2, false},
  };
  auto cam = std::make_unique<ucap::CameraRecord>();
  const std::vector<uint16_t> data(static_cast<size_t>(ucap::kMaxSensorWidth) * (ucap::kMaxSensorHeight + 2), 7);
  for (const auto& s : sensors) {
    cam->sensor_width = s.w;
    cam->sensor_height = s.h;
    cam->black_ref_present = cam->white_ref_present = 0;
    const int32_t bytes = (s.h + 2) * s.w * 2;
    EXPECT_EQ(ucap::black_store_words(*cam), s.fits ? static_cast<size_t>(bytes / 2) : 0u) << s.w << "x" << s.h;
    EXPECT_EQ(ucap::restore_black_ref(*cam, data.data(), bytes), s.fits ? 0 : 8) << s.w << "x" << s.h;
    EXPECT_EQ(ucap::set_white_table(*cam, data.data()), s.fits ? 0 : 8) << s.w << "x" << s.h;
    EXPECT_EQ(cam->black_ref_present + cam->white_ref_present, s.fits ? 2 : 0) << s.w << "x" << s.h;
  }
}

}  // namespace
