// Test fixtures over the virtual camera: every test starts from a clean set of
// virtual cameras and an uninitialised library, and leaves the library closed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ucap/ucap.h"
#include "ucap/vcam.h"

namespace ucap_test {

// No camera attached, library closed.
class NoCameraTest : public ::testing::Test {
 protected:
  void SetUp() override {
    UcapClose();
    ASSERT_EQ(ucap_vcam_reset(), 0);
  }
  void TearDown() override {
    UcapClose();
    ucap_vcam_reset();
  }
};

// The configurations in cameras() are attached before UcapInit, which must succeed.
class CameraTest : public NoCameraTest {
 protected:
  virtual std::vector<std::string> cameras() const { return {""}; }
  void SetUp() override {
    NoCameraTest::SetUp();
    for (const std::string& config : cameras()) {
      int id = ucap_vcam_attach(config.c_str());
      ASSERT_GE(id, 0) << config;
      ids.push_back(id);
    }
    ASSERT_EQ(UcapInit(), 0);
    for (int id : ids) trace(id);  // start each test with an empty register trace
  }

 public:
  // Returns and clears the register trace of a virtual camera.
  static std::string trace(int id) { return take_text(ucap_vcam_trace, id); }
  // Returns and clears the driver request log of a virtual camera.
  static std::string requests(int id) { return take_text(ucap_vcam_requests, id); }

 private:
  static std::string take_text(int (*read)(int, char*, int), int id) {
    int needed = read(id, nullptr, 0);
    std::string text(static_cast<size_t>(needed > 0 ? needed : 1), '\0');
    int got = read(id, text.data(), static_cast<int>(text.size()));
    if (got <= 0) return {};
    text.resize(static_cast<size_t>(got) - 1);
    return text;
  }

 protected:
  std::vector<int> ids;
};

}  // namespace ucap_test
