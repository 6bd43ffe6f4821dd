// ucap: the camera from the command line.
//   ucap list                    number of attached cameras
//   ucap info                    start the library, describe the cameras and their settings
//   ucap snap -o FILE.tif        one image as OME-TIFF (and a PNG preview)
//   ucap stream --frames N       fast acquisition into a multi-page OME-TIFF
//   ucap calibrate black|white   measure a reference and save it to a calibration file
//   ucap serve                   live view and control page in the browser
//   ucap firmware FILE           download a firmware text into the camera
// Global options: --vcam CONFIG (repeatable), -c/--camera N, --library-messages.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <map>
#include <string>

#include "commands.h"
#include "errors.h"
#include "progress.h"

namespace {

const std::map<std::string, std::string> kUsage = {
    {"list", "ucap list"},
    {"info", "ucap info [-c N]"},
    {"snap",
     "ucap snap -o FILE.tif [--resolution R] [--bits 12|36] [--binning B] [--exposure 250us|10ms|2s] "
     "[--roi L,T,R,B] [--black-ref FILE] [--white-table FILE] [--color-processing on|off] "
     "[--white-balance R,G,B] [--preview FILE.png]"},
    {"stream", "ucap stream --frames N | --seconds S [-o FILE.tif] [capture options as for snap]"},
    {"calibrate", "ucap calibrate black|white -o FILE [--exposure T] [--black-ref FILE]"},
    {"firmware", "ucap firmware FILE"},
    {"serve", "ucap serve [--port 8321] [--listen ADDR] [--output-dir DIR] [--token T] [--allowed-host NAME]..."},
};

// Resolution, pixel depth, binning, region, exposure, references, color: for snap and stream.
void add_capture_options(CLI::App* command, tool::CaptureOptions& o) {
  command->add_option_function<int>("--resolution", [&o](const int& v) { o.resolution = v; },
                                    "0 full color, 1 half, 2 interlaced color, 3 interlaced grey")
      ->check(CLI::Range(0, 3));
  command->add_option_function<int>("--bits", [&o](const int& v) { o.bits = v; },
                                    "bits per pixel: 36 color, 12 grey")
      ->check(CLI::IsMember({12, 36}));
  command->add_option_function<int>("--binning", [&o](const int& v) { o.binning = v; }, "binning factor")
      ->check(CLI::Range(1, 5));
  command->add_option("--roi", o.roi, "region L,T,R,B in the resolution's coordinates")
      ->delimiter(',')
      ->expected(4);
  command->add_option_function<std::string>("--color-processing",
                                            [&o](const std::string& v) { o.color_processing = v == "on"; },
                                            "color matrix on or off")
      ->check(CLI::IsMember({"on", "off"}));
  command->add_option("--white-balance", o.white_balance, "white balance R,G,B")->delimiter(',')->expected(3);
  command->add_option("--white-table", o.white_table, "white table file to load and switch on")
      ->check(CLI::ExistingFile);
}

void add_exposure_option(CLI::App* command, tool::CaptureOptions& o) {
  command->add_option("--exposure", o.exposure, "exposure with unit: 250us, 10ms, 2s")
      ->check(CLI::Validator(
          [](std::string& text) {
            return tool::parse_exposure(text) ? std::string() : "give a number with us, ms or s";
          },
          "TIME"));
}

void add_black_ref_option(CLI::App* command, tool::CaptureOptions& o) {
  command->add_option("--black-ref", o.black_ref, "black reference file to load and switch on")
      ->check(CLI::ExistingFile);
}

int usage_error(const CLI::App& app, const std::string& message) {
  std::string usage = "ucap [--vcam CONFIG]... [-c N] list|info|snap|stream|calibrate|serve|firmware ...";
  for (const CLI::App* command : app.get_subcommands({})) {
    if (command->count() > 0) usage = kUsage.at(command->get_name());
  }
  std::fprintf(stderr, "ucap: %s\nusage: %s\nRun with --help for more information.\n", message.c_str(),
               usage.c_str());
  return tool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  tool::install_interrupt_handler();
  CLI::App app{"ucap: the 1394 color camera from the command line"};
  app.require_subcommand(1);
  app.fallthrough();
  tool::CameraOptions camera;
#if UCAP_WITH_VCAM
  app.add_option("--vcam", camera.vcam,
                 "attach a virtual camera with this configuration instead of the default one (repeatable)")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
#endif
  CLI::Option* camera_option =
      app.add_option("-c,--camera", camera.camera, "index of the camera to use (default 0)")
          ->check(CLI::NonNegativeNumber);
  app.add_flag("--library-messages", camera.library_messages, "let the library print its own error lines");

  auto* list = app.add_subcommand("list", "print the number of attached cameras");
  auto* info = app.add_subcommand("info", "describe the cameras, their settings and references");

  tool::CaptureOptions capture;
  tool::SnapOptions snap_options;
  auto* snap = app.add_subcommand("snap", "take one image into an OME-TIFF file");
  snap->add_option("-o,--output", snap_options.output, "OME-TIFF file to write")->required();
  snap->add_option("--preview", snap_options.preview, "8-bit PNG preview to write");
  add_capture_options(snap, capture);
  add_exposure_option(snap, capture);
  add_black_ref_option(snap, capture);

  tool::StreamOptions stream_options;
  auto* stream = app.add_subcommand("stream", "fast acquisition into a multi-page OME-TIFF file");
  auto* frames = stream->add_option("--frames", stream_options.frames, "number of frames")
                     ->check(CLI::PositiveNumber);
  auto* seconds = stream->add_option("--seconds", stream_options.seconds, "run this long")
                      ->check(CLI::PositiveNumber)
                      ->excludes(frames);
  stream->add_option("-o,--output", stream_options.output, "OME-TIFF file to write (none: count only)");
  add_capture_options(stream, capture);
  add_exposure_option(stream, capture);
  add_black_ref_option(stream, capture);

  tool::CalibrateOptions calibrate_options;
  std::string kind;
  auto* calibrate = app.add_subcommand("calibrate", "measure a black reference (sensor dark) or white "
                                                    "reference (even empty field) and save it");
  calibrate->add_option("kind", kind, "black or white")->required()->check(CLI::IsMember({"black", "white"}));
  calibrate->add_option("-o,--output", calibrate_options.output, "calibration file to write")->required();
  add_exposure_option(calibrate, capture);
  add_black_ref_option(calibrate, capture);

  std::string firmware_file;
  auto* firmware = app.add_subcommand("firmware", "download a firmware text file into the camera");
  firmware->add_option("file", firmware_file, "firmware text")->required()->check(CLI::ExistingFile);

  tool::ServeOptions serve_options;
  auto* serve = app.add_subcommand("serve", "live view and control page in the browser");
  serve->add_option("--port", serve_options.port, "TCP port (default 8321; 0: any free one)")->check(CLI::Range(0, 65535));
  serve->add_option("--listen", serve_options.listen, "address to listen on (default 127.0.0.1)");
  serve->add_option("--output-dir", serve_options.output_dir, "directory for snaps, recordings and calibration files")
      ->check(CLI::ExistingDirectory);
  serve->add_option("--token", serve_options.token, "access token (made up and printed when needed and not given)");
  serve->add_option("--allowed-host", serve_options.allowed_hosts, "a further Host name the server answers to");

  try {
    app.parse(argc, argv);
    if (*stream && frames->count() == 0 && seconds->count() == 0)
      return usage_error(app, "stream needs --frames N or --seconds S");
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help
    return usage_error(app, e.what());
  }

  try {
    if (*list) return tool::run_list(camera);
    if (*info) return tool::run_info(camera, camera_option->count() > 0);
    if (*snap) return tool::run_snap(camera, capture, snap_options);
    if (*stream) return tool::run_stream(camera, capture, stream_options);
    if (*calibrate) {
      calibrate_options.kind = kind == "black" ? tool::ReferenceKind::kBlack : tool::ReferenceKind::kWhite;
      return tool::run_calibrate(camera, capture, calibrate_options);
    }
    if (*firmware) return tool::run_firmware(camera, firmware_file);
    if (*serve) return tool::run_serve(camera, serve_options);
  } catch (const tool::Failure& failure) {
    std::fprintf(stderr, "ucap: %s\n", failure.what());
    return failure.status();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ucap: %s\n", e.what());
    return tool::kExitFailure;
  }
  return 0;
}
