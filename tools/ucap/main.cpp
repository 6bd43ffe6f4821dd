// ucap: command-line front end of the camera library.
//   ucap list            number of attached cameras
//   ucap info [-c N]     start the library and describe every camera (or camera N)
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "core/record.h"
#include "core/state.h"
#include "ucap/ucap.h"
#include "ucap/vcam.h"

namespace {

void print_camera(int index) {
  UcapInfoRecord info{};
  if (UcapmInfo(index, &info) != UCAP_OK) return;
  UcapRect frame{};
  UcapmGetCurrentFrameSize(index, &frame);
  std::printf("camera %d\n", index);
  std::printf("  info words     vendor3=%08X uid_low=%08X one=%u eeprom36=%08X\n", info.vendor_word3,
              info.unique_id_low, info.one, info.eeprom_word36);
  std::printf("  sensor         %d x %d\n", frame.right - frame.left, frame.bottom - frame.top);
  const ucap::CameraRecord* cam = ucap::camera(index);
  if (cam != nullptr) {
    std::printf("  device         %s\n", cam->device_path);
    std::printf("  mode table     mode  block     max        unit   output     bytes/pkt pkts/frame packing\n");
    for (int m = 0; m < 8; ++m) {
      const ucap::ModeEntry& e = cam->modes[m];
      if (e.block_address == 0) continue;
      std::printf("                 %d     %08X  %4u x %-4u %2u x %-2u %4u x %-4u %9u %10u %7u\n", m,
                  e.block_address, e.max_width, e.max_height, e.unit_width, e.unit_height,
                  e.output_width, e.output_height, e.bytes_per_packet, e.packets_per_frame,
                  e.packing_supported);
    }
    std::printf("  blemishes      %d (list %s)\n", cam->blemish_count,
                cam->blemish_list_valid ? "valid" : "not valid");
  }
  std::printf("  resolutions   ");
  for (int r = 0; r < UcapmGetNumberOfResolutions(index); ++r) {
    int32_t w = 0, h = 0, third = 0;
    if (UcapmGetResolutionValues(index, r, &w, &h, &third) == UCAP_OK) std::printf(" %d:%dx%d", r, w, h);
  }
  std::printf("\n");
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
