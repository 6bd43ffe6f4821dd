// Configuration strings: one malformed word refuses the whole string, changes nothing, is named.
#include "vcam_client.h"

namespace vcam_test {
namespace {

class Config : public VcamTest {};

// A refusal, and its reason starts with the bad word.
void refused(int result, const std::string& word) {
  char why[200] = {};
  EXPECT_LT(result, 0) << word;
  ucap_vcam_config_error(why, sizeof why);
  EXPECT_EQ(std::string(why).rfind(word + ": ", 0), 0u) << why;
}

TEST_F(Config, MalformedAttachConfigurationsAreRefused) {
  // clang-format off
  const char* bad[] = {
      "bogus=1", "sensor", "=1", "sensor=2584", "sensor=2584x", "sensor=2586x1936", "sensor=16x16",
      "sensor=4100x100", "modes=8", "modes=0,,2", "modes=a", "model=other", "packing=2", "uid=xyz",
      "uid=123456789", "vendor3=-1", "blemishes=1:2,3", "blemishes=3000:1", "blemish_count=-1",
      "id=a#b", "id=", "level=-1", "noise=yes", "timescale=0", "timescale=0.5", "scene=stars",
      "dark=1e400", "smear=nan", "blur=-1", "blur=101", "fail_read=F0F00070:1",
      "fail_read=F0F00071:1:31", "fail_write=vendor+70:1:0", "fail_ioctl=zz:1:31", "fail_open=x",
      "fail_detail=1:0", "lapse=2", "node=63", "output=0:3000x10", "output=9:10x10", "busy_us=-1",
      "misreport=mode2+C", "misreport=mode2+C:xyz", "misreport=F0F00071:1", "drop_frames=1:2:3",
      "drop_frames=1:x", "detach_after=-1", "detach_in_exposure=x", "memory_stuck=1:2",
      "overrange=1:FFF", "overrange=1:10000", "overrange=1:2:3", "frame_stamp=2", "response=1,1",
      "response=0,0,0", "eeprom=512", "eeprom=512:ABC", "eeprom=2047:AABB", "eeprom=x:00",
      "eeprom=0:GG",
  };
  // clang-format on

  for (const char* config : bad) refused(ucap_vcam_attach(config), config);
  refused(ucap_vcam_attach("sensor=100x100 blemishes=99:100"), "blemishes=99:100");  // size known
  EXPECT_EQ(list_paths().size(), 0u);
  std::string list = "blemishes=0:0";
  for (int i = 1; i < 382; ++i) list.append(",").append(std::to_string(i)).append(":0");
  EXPECT_LT(ucap_vcam_attach(list.c_str()), 0);
  EXPECT_EQ(ucap_vcam_attach(list.substr(0, list.rfind(',')).c_str()), 0);  // 381 fit
}

TEST_F(Config, SetRefusesIdentityKeysAndLeavesEverythingOnARefusalAndResetClearsAll) {
  ASSERT_EQ(ucap_vcam_attach("id=1 vendor3=11"), 0);
  for (auto w : {"id=2", "model=lumens", "sensor=8x8", "modes=", "uid=1", "node=3", "output=0:8x8"})
    refused(ucap_vcam_set(0, w), w);
  refused(ucap_vcam_set(0, "vendor3=22 bogus=1"), "bogus=1");
  refused(ucap_vcam_set(0, "vendor3=22 fail_open=1 level=x"), "level=x");
  Device dev(path_of_id("1"));  // the refused fail_open did not take effect
  ASSERT_TRUE(dev.ok());
  EXPECT_EQ(dev.read(kVendor + 0x0C), 0x11u);
  EXPECT_EQ(ucap_vcam_set(0, " vendor3=0x22   scene=flat "), 0);
  EXPECT_EQ(dev.read(kVendor + 0x0C), 0x22u);
  EXPECT_LT(ucap_vcam_set(7, "vendor3=1"), 0);
  EXPECT_LT(ucap_vcam_set(0, nullptr), 0);
  ASSERT_EQ(ucap_vcam_detach(0), 0);
  EXPECT_LT(ucap_vcam_set(0, "vendor3=1"), 0);
  ASSERT_EQ(ucap_vcam_attach("fail_open_set=5"), 1);  // reset detaches everything; ids start again
  EXPECT_EQ(ucap_vcam_reset(), 0);
  EXPECT_LT(ucap_vcam_detach(0), 0);
  ASSERT_EQ(ucap_vcam_attach(""), 0);
  EXPECT_EQ(list_paths().size(), 1u);  // the bus fault went with the reset
}

}  // namespace
}  // namespace vcam_test
