// The tool's commands. Each returns the exit status or throws a Failure.
#pragma once

#include <string>
#include <vector>

#include "capture.h"
#include "reference_file.h"
#include "session.h"

namespace tool {

struct SnapOptions {
  std::string output;   // OME-TIFF
  std::string preview;  // PNG, or empty
};

struct StreamOptions {
  int frames = 0;      // stop after this many (0: by time)
  double seconds = 0;  // or after this long
  std::string output;  // multi-page OME-TIFF, or empty for none
};

struct CalibrateOptions {
  ReferenceKind kind = ReferenceKind::kBlack;
  std::string output;
};

struct ServeOptions {
  int port = 8321;  // 0: any free port
  std::string listen = "127.0.0.1";
  std::string output_dir = ".";
  std::string token;                       // needed beyond loopback; made up when not given
  std::vector<std::string> allowed_hosts;  // Host names taken besides the address and localhost
};

int run_list(const CameraOptions& camera);
// Every camera, or only options.camera when `one` is set.
int run_info(const CameraOptions& camera, bool one);
int run_snap(const CameraOptions& camera, const CaptureOptions& capture, const SnapOptions& snap);
int run_stream(const CameraOptions& camera, const CaptureOptions& capture,
               const StreamOptions& stream);
int run_calibrate(const CameraOptions& camera, const CaptureOptions& capture,
                  const CalibrateOptions& calibrate);
// The live view and control page in the browser, until Ctrl-C.
int run_serve(const CameraOptions& camera, const ServeOptions& serve);
int run_firmware(const CameraOptions& camera, const std::string& path);

}  // namespace tool
