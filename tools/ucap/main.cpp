// ucap: command-line front end of the camera library.
//   ucap list            number of attached cameras
//   ucap info [-c N]     start the library and describe every camera (or camera N)
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "ucap/ucap.h"
#include "ucap/vcam.h"

namespace {

// What the camera interface tells about camera `index` of a started library.
void print_camera(int index) {
  UcapInfoRecord info{};
  if (UcapmInfo(index, &info) != UCAP_OK) return;
  UcapRect frame{};
  UcapmGetCurrentFrameSize(index, &frame);
  std::printf("camera %d\n", index);
  std::printf("  info words     vendor3=%08X uid_low=%08X one=%u eeprom36=%08X\n", info.vendor_word3,
              info.unique_id_low, info.one, info.eeprom_word36);
  std::printf("  sensor         %d x %d\n", frame.right - frame.left, frame.bottom - frame.top);
  std::printf("  resolutions   ");
  for (int r = 0; r < UcapmGetNumberOfResolutions(index); ++r) {
    int32_t w = 0, h = 0, third = 0;
    if (UcapmGetResolutionValues(index, r, &w, &h, &third) == UCAP_OK) std::printf(" %d:%dx%d", r, w, h);
  }
  std::printf("\n");
  int32_t exposure = 0, black = 0, white = 0;
  UcapmGetCurrentExposure(index, &exposure);
  UcapmHasBlackRef(index, &black);
  UcapmHasWhiteRef(index, &white);
  std::printf("  exposure       %d us\n", exposure);
  std::printf("  references     black %s, white %s\n", black ? "present" : "none",
              white ? "present" : "none");
  // The blemish switch is on from the start; switching it on again only asks whether the
  // camera's blemish list could be read.
  std::printf("  blemish list   %s\n", Ucapm_corrblems(index, 1) ? "valid" : "not valid");
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"ucap: the 1394 color camera from the command line"};
  app.require_subcommand(1);
  std::string vcam_config;
#if UCAP_WITH_VCAM
  app.add_option("--vcam", vcam_config,
                 "replace the default virtual camera by one with this configuration");
#endif
  auto* list = app.add_subcommand("list", "print the number of attached cameras");
  auto* info = app.add_subcommand("info", "start the library and describe the cameras");
  int only = -1;
  info->add_option("-c,--camera", only, "describe only this camera");
  CLI11_PARSE(app, argc, argv);

#if UCAP_WITH_VCAM
  if (!vcam_config.empty()) {
    ucap_vcam_reset();
    if (ucap_vcam_attach(vcam_config.c_str()) < 0) {
      std::fprintf(stderr, "ucap: bad virtual camera configuration: %s\n", vcam_config.c_str());
      return 2;
    }
  }
#endif
  if (*list) {
    std::printf("%d\n", UcapGetNumberofCameras());
    return 0;
  }
  if (*info) {
    int rc = UcapInit();
    if (rc != UCAP_OK) {
      std::fprintf(stderr, "ucap: UcapInit failed with %d\n", rc);
      return 1;
    }
    int count = UcapGetNumberofCameras();
    std::printf("cameras: %d\n", count);
    for (int i = 0; i < count; ++i)
      if (only < 0 || only == i) print_camera(i);
    UcapClose();
  }
  return 0;
}
