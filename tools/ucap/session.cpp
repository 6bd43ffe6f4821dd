#include "session.h"

#include <cstdio>

#include "errors.h"
#include "ucap/ucap.h"
#if UCAP_WITH_VCAM
#include "ucap/vcam.h"
#endif

namespace tool {

void configure_virtual_cameras(const std::vector<std::string>& configs) {
  if (configs.empty()) return;
#if UCAP_WITH_VCAM
  ucap_vcam_reset();
  for (const std::string& config : configs) {
    if (ucap_vcam_attach(config.c_str()) < 0) {
      char why[512] = {};
      ucap_vcam_config_error(why, sizeof why);
      throw Failure("bad virtual camera configuration: " + std::string(why), kExitUsage);
    }
  }
#else
  throw Failure("this build carries no virtual camera", kExitUsage);
#endif
}

Session::Session(const CameraOptions& options) : index_(options.camera) {
  configure_virtual_cameras(options.vcam);
  UcapSetErrorMessages(options.library_messages ? 1 : 0);
  check(UcapInit(), "starting the library");
  count_ = UcapGetNumberofCameras();
  UcapRect frame{};
  if (index_ < 0 || index_ >= count_ || UcapmGetCurrentFrameSize(index_, &frame) != UCAP_OK) {
    UcapClose();
    throw Failure("camera " + std::to_string(index_) + ": " + describe_code(UCAP_ERR_NO_CAMERA) +
                  "; cameras found: " + std::to_string(count_));
  }
  sensor_width_ = frame.right - frame.left;
  sensor_height_ = frame.bottom - frame.top;
}

Session::Session(const Session& owner, int index)
    : index_(index), count_(owner.count_), owner_(false) {
  UcapRect frame{};
  check(UcapmGetCurrentFrameSize(index_, &frame), "camera " + std::to_string(index_));
  sensor_width_ = frame.right - frame.left;
  sensor_height_ = frame.bottom - frame.top;
}

Session::~Session() {
  if (owner_) UcapClose();
}

std::string Session::camera_id() const {
  UcapInfoRecord info{};
  UcapmInfo(index_, &info);
  char text[16];
  std::snprintf(text, sizeof text, "%08X", info.unique_id_low);
  return text;
}

}  // namespace tool
