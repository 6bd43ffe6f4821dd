// Discovery: the sort key, the fall-back to whole paths, foreign devices, the ten slots.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/discovery.h"
#include "support/camera_fixture.h"

namespace {

using ucap::device::compare_paths;
using ucap::device::sort_key;

const std::string kGuid = "#{c459df55-db08-11d1-b009-00a0c9081ff6}";
std::string path(const std::string& model, const std::string& id) {
  return "\\\\?\\1394#" + model + "#" + id + kGuid;
}

TEST(SortKey, TakesTheIdentifierFieldsPairsInReverseOrHasNone) {
  // Eight to fifteen characters: P = F padded to 15; key = P7 P8 P6 '0' P4 P5 P2 P3 P0 P1.
  const struct {
    std::string path;
    const char* key;  // nullptr: none
  } rows[] = {
      {path("vela_optic&tessera_lx20", "0123456789ABCDE"), "7860452301"},
      {path("vela_optic&tessera_lx20", "ABCDEFGHIJ"), "CDB00A0000"},
      // Fewer than eight: the characters of the field fall outside the ten that count.
      {path("vela_optic&tessera_lx20", "89AB"), "0000000000"},
      {"\\\\?\\1394#only_two#fields", nullptr},
      {path("vela_optic&tessera_lx20", "0123456789ABCDEF"), nullptr},
      {"no hashes at all", nullptr},
  };
  for (const auto& r : rows) {
    char key[11] = {};
    EXPECT_EQ(sort_key(r.path.c_str(), key), r.key != nullptr) << r.path;
    if (r.key != nullptr) {
      EXPECT_STREQ(key, r.key) << r.path;
    }
  }
}

TEST(SortKey, KeysDecideAndEqualOrMissingKeysFallBackToTheWholePaths) {
  // Both keys are 0000000000; without a tie-break qsort would leave their order open.
  std::string a = path("vela_optic&tessera_lx20", "12");
  std::string b = path("vela_optic&tessera_lx20", "34");
  EXPECT_LT(compare_paths(a.c_str(), b.c_str()), 0);
  EXPECT_GT(compare_paths(b.c_str(), a.c_str()), 0);
  EXPECT_EQ(compare_paths(a.c_str(), a.c_str()), 0);
  EXPECT_LT(compare_paths("\\\\?\\1394#a#b", "\\\\?\\1394#a#c"), 0);
  EXPECT_GT(compare_paths("\\\\?\\1394#b#a", "\\\\?\\1394#a#z"), 0);
  // ...#0000010000000 has the key 1000000000 and sorts after ...#1000000000000 (key
  // 0000001000), although its whole path text sorts before it.
  a = path("vela_optic&tessera_lx20", "0000010000000");
  b = path("vela_optic&tessera_lx20", "1000000000000");
  EXPECT_GT(compare_paths(a.c_str(), b.c_str()), 0);
  EXPECT_LT(std::strcmp(a.c_str(), b.c_str()), 0);
}

class DiscoveryTest : public ucap_test::NoCameraTest {};

TEST_F(DiscoveryTest, CamerasAreNumberedInSortedOrderSkippingForeignDevices) {
  EXPECT_EQ(UcapGetNumberofCameras(), 0);
  EXPECT_EQ(UCapIsAvailable(), 16);
  EXPECT_EQ(UcapInit(), 3);
  // Attached out of sort order: two cameras, then three and a foreign device among them.
  UcapInfoRecord info;
  ASSERT_GE(ucap_vcam_attach("id=300000000000000 uid=3"), 0);
  ASSERT_GE(ucap_vcam_attach("model=lumens id=200000000000000 uid=2"), 0);
  ASSERT_EQ(UcapInit(), 0);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(UcapmInfo(i, &info), 0);
    EXPECT_EQ(info.unique_id_low, static_cast<uint32_t>(i + 2)) << "camera " << i << " of two";
  }
  ASSERT_EQ(UcapClose(), 0);
  ASSERT_GE(ucap_vcam_attach("model=foreign id=100000000000000"), 0);
  ASSERT_GE(ucap_vcam_attach("id=100000000000000 uid=1"), 0);
  EXPECT_EQ(UcapGetNumberofCameras(), 3);
  ASSERT_EQ(UcapInit(), 0);
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(UcapmInfo(i, &info), 0);
    EXPECT_EQ(info.unique_id_low, static_cast<uint32_t>(i + 1)) << "camera " << i;
    EXPECT_EQ(info.one, 1u);
  }
  EXPECT_EQ(UcapmInfo(3, &info), 3);
  EXPECT_EQ(UcapmInfo(-1, &info), 3);
}

TEST_F(DiscoveryTest, MoreThanTenInterfacesAndOverlongPathsAreSkipped) {
  // An overlong path is skipped; of eleven cameras with equal keys ten are kept, in order.
  ASSERT_GE(ucap_vcam_attach(("id=" + std::string(300, '7')).c_str()), 0);
  for (int i = 0; i < 11; ++i) {
    char config[64];
    std::snprintf(config, sizeof config, "id=0000000000001%02d", i);
    ASSERT_GE(ucap_vcam_attach(config), 0);
  }
  EXPECT_EQ(UcapGetNumberofCameras(), ucap::device::kPathSlots);
  char found[256];
  int32_t matching = 0;
  for (int n = 0; n < ucap::device::kPathSlots; ++n) {
    ASSERT_TRUE(ucap::device::find_camera_path(n, found, &matching));
    char id[32];
    std::snprintf(id, sizeof id, "#0000000000001%02d#", n);
    EXPECT_NE(std::strstr(found, id), nullptr) << found;
  }
  EXPECT_FALSE(ucap::device::find_camera_path(ucap::device::kPathSlots, found, &matching));
  EXPECT_EQ(matching, ucap::device::kPathSlots);
}

}  // namespace
