// Test fixtures over the virtual camera: every test starts from a clean set of
// virtual cameras and an uninitialised library, and leaves the library closed.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/record.h"
#include "core/state.h"
#include "device/transport.h"
#include "support/trace.h"
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
  // Returns and clears the register trace or the driver request log of a virtual camera.
  static std::string trace(int id) { return take_log(ucap_vcam_trace, id); }
  static std::string requests(int id) { return take_log(ucap_vcam_requests, id); }

  static ucap::CameraRecord& cam(int index = 0) { return *ucap::camera(index); }
  int id(size_t k = 0) const { return ids[k]; }
  // Changes the configuration of the k-th attached camera (its faults, scene, ...).
  void set(const std::string& config, size_t k = 0) const {
    ASSERT_EQ(ucap_vcam_set(ids[k], config.c_str()), 0) << config;
  }
  // Register addresses of camera 0.
  static uint32_t vendor(uint32_t offset) { return cam().vendor_base + offset; }
  static uint32_t command(uint32_t offset) { return cam().command_base + offset; }
  // Capture set-up and clean-up under the camera lock, as the acquisition calls them.
  static int32_t setup(int mode, const ucap::Rect& rect, int binning, int ticks, int single = 1,
                       int index = 0) {
    ucap::platform::Lock lock(cam(index).lock);
    return ucap::device::capture_setup(cam(index), mode, rect, binning, ticks, single);
  }
  static int32_t cleanup(int index = 0) {
    ucap::platform::Lock lock(cam(index).lock);
    return ucap::device::capture_cleanup(cam(index));
  }

 protected:
  std::vector<int> ids;
};

}  // namespace ucap_test
