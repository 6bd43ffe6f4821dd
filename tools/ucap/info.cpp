// ucap list, ucap info: what the camera interface tells about the cameras.
#include <cstdio>

#include "commands.h"
#include "ucap/ucap.h"

namespace tool {
namespace {

const char* on_off(int32_t v) { return v ? "on" : "off"; }

void print_camera(int index) {
  UcapInfoRecord info{};
  if (UcapmInfo(index, &info) != UCAP_OK) return;
  UcapRect frame{}, image{};
  UcapmGetCurrentFrameSize(index, &frame);
  UcapmGetCurrentImageSize(index, &image);
  std::printf("camera %d\n", index);
  std::printf("  info words     vendor3=%08X uid_low=%08X one=%u eeprom36=%08X\n",
              info.vendor_word3, info.unique_id_low, info.one, info.eeprom_word36);
  std::printf("  sensor         %d x %d\n", frame.right - frame.left, frame.bottom - frame.top);
  std::printf("  resolutions   ");
  for (int r = 0; r < UcapmGetNumberOfResolutions(index); ++r) {
    int32_t w = 0, h = 0, third = 0;
    if (UcapmGetResolutionValues(index, r, &w, &h, &third) == UCAP_OK)
      std::printf(" %d:%dx%d", r, w, h);
  }
  std::printf("\n");
  int32_t binning = 0, exposure = 0, width = 0, height = 0, color = 0, trigger = 0;
  UcapmGetCurrentBinning(index, &binning);
  UcapmGetCurrentExposure(index, &exposure);
  UcapmGetCurrentDataSize(index, &width, &height);
  UcapmIsColorProcessingEnabled(index, &color);
  UcapmIsHardwareTriggerEnabled(index, &trigger);
  double red = 0, green = 0, blue = 0;
  UcapmGetCurrentWhiteBalance(index, &red, &green, &blue);
  std::printf("  settings       resolution %d, %d bits per pixel, binning %d\n",
              UcapmGetCurrentResolution(index), UcapmGetCurrentBitsPerPixel(index), binning);
  std::printf("  image          region %d,%d,%d,%d, data %d x %d\n", image.left, image.top,
              image.right, image.bottom, width, height);
  std::printf("  exposure       %d us\n", exposure);
  std::printf("  color          processing %s, white balance %.3g %.3g %.3g\n", on_off(color), red,
              green, blue);
  std::printf("  trigger        hardware trigger %s\n", on_off(trigger));
  int32_t black = 0, black_on = 0, white = 0, white_on = 0;
  UcapmHasBlackRef(index, &black);
  UcapmGetCurrentBlackRef(index, &black_on);
  UcapmHasWhiteRef(index, &white);
  UcapmGetCurrentWhiteRef(index, &white_on);
  std::printf("  references     black %s, white %s\n",
              black ? (black_on ? "present, on" : "present, off") : "none",
              white ? (white_on ? "present, on" : "present, off") : "none");
  // The blemish switch is on from the start; switching it on again only asks whether the
  // camera's blemish list could be read.
  std::printf("  blemish list   %s\n", Ucapm_corrblems(index, 1) ? "valid" : "not valid");
}

}  // namespace

int run_list(const CameraOptions& camera) {
  configure_virtual_cameras(camera.vcam);
  std::printf("%d\n", UcapGetNumberofCameras());
  return 0;
}

int run_info(const CameraOptions& camera, bool one) {
  Session session(camera);
  std::printf("cameras: %d\n", session.count());
  for (int i = 0; i < session.count(); ++i)
    if (!one || i == session.index()) print_camera(i);
  return 0;
}

}  // namespace tool
