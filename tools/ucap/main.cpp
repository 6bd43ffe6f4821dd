// ucap: the camera from the command line.
//   ucap list                    number of attached cameras
//   ucap info                    start the library, describe the cameras and their settings
//   ucap snap -o FILE.ome.tif    one image as OME-TIFF (and a PNG preview)
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
     "ucap snap -o FILE.ome.tif [--resolution R] [--bits 12|36] [--binning B] [--exposure "
     "250us|10ms|2s] "
     "[--roi L,T,R,B] [--black-ref FILE] [--white-table FILE] [--color-processing on|off] "
     "[--white-balance R,G,B] [--preview FILE.png]"},
    {"stream",
     "ucap stream --frames N | --seconds S [-o FILE.ome.tif] [capture options as for snap]"},
    {"calibrate", "ucap calibrate black|white -o FILE [--exposure T] [--black-ref FILE]"},
    {"firmware", "ucap firmware FILE"},
    {"serve",
     "ucap serve [--port 8321] [--listen ADDR] [--output-dir DIR] [--token T] [--allowed-host "
     "NAME]..."},
};

// Resolution, pixel depth, binning, region, exposure, references, color: for snap and stream.
void add_capture_options(CLI::App* command, tool::CaptureOptions& o) {
  command
      ->add_option_function<int>(
          "--resolution", [&o](const int& v) { o.resolution = v; },
          "0 full sensor in color, 1 half resolution, 2 interlaced color, 3 interlaced "
          "grey (default: the camera's current one, 0 after start-up)")
      ->check(CLI::Range(0, 3));
  command
      ->add_option_function<int>(
          "--bits", [&o](const int& v) { o.bits = v; },
          "bits per pixel: 36 color (RGB file), 12 grey; a resolution given alone "
          "takes a depth it offers")
      ->check(CLI::IsMember({12, 36}));
  command
      ->add_option_function<int>(
          "--binning", [&o](const int& v) { o.binning = v; },
          "sum B x B pixels (1 to 5; not every resolution takes every factor)")
      ->check(CLI::Range(1, 5));
  command
      ->add_option("--roi", o.roi,
                   "region left,top,right,bottom in the pixels of the resolution (right and bottom "
                   "exclusive; default: the whole field)")
      ->delimiter(',')
      ->expected(4);
  command
      ->add_option_function<std::string>(
          "--color-processing", [&o](const std::string& v) { o.color_processing = v == "on"; },
          "the color matrix on or off (color images)")
      ->check(CLI::IsMember({"on", "off"}));
  command
      ->add_option("--white-balance", o.white_balance,
                   "white balance gains red,green,blue, each above 0")
      ->delimiter(',')
      ->expected(3);
  command
      ->add_option("--white-table", o.white_table,
                   "white table file (from calibrate white) to load and switch on")
      ->check(CLI::ExistingFile);
}

void add_exposure_option(CLI::App* command, tool::CaptureOptions& o) {
  command
      ->add_option(
          "--exposure", o.exposure,
          "exposure time with its unit, 250us to 60s: 250us, 10ms, 1.5s (default: the camera's "
          "current one, 100 ms after start-up)")
      ->check(CLI::Validator(
          [](std::string& text) {
            return tool::parse_exposure(text) ? std::string() : "give a number with us, ms or s";
          },
          "TIME"));
}

void add_black_ref_option(CLI::App* command, tool::CaptureOptions& o) {
  command
      ->add_option("--black-ref", o.black_ref,
                   "black reference file (from calibrate black) to load and switch on")
      ->check(CLI::ExistingFile);
}

int usage_error(const CLI::App& app, const std::string& message) {
  std::string usage =
      "ucap [--vcam CONFIG]... [-c N] list|info|snap|stream|calibrate|serve|firmware ...";
  for (const CLI::App* command : app.get_subcommands({})) {
    if (command->count() > 0) usage = kUsage.at(command->get_name());
  }
  std::fprintf(stderr, "ucap: %s\nusage: %s\nRun with --help for more information.\n",
               message.c_str(), usage.c_str());
  return tool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  tool::install_interrupt_handler();
  CLI::App app{
      "ucap: the 1394 color CCD microscopy camera from the command line: pictures and streams "
      "as OME-TIFF, calibration files, firmware.",
      "ucap"};
  app.set_version_flag("--version", "ucap " UCAP_VERSION, "print the version and exit");
  app.set_help_all_flag("--help-all", "print the help of every command and exit");
  app.footer(
      "Options before or after the command. Run ucap COMMAND --help for a command's options.\n"
      "Exit status: 0 done, 1 the library or a file said no (one line names the error code and "
      "its meaning), 2 bad options, 130 stopped by Ctrl-C.\n"
      "Examples:\n"
      "  ucap info\n"
      "  ucap snap -o a.ome.tif --exposure 250ms --preview a.png\n"
      "  ucap stream --frames 100 --resolution 3 -o movie.ome.tif\n"
      "  ucap calibrate black -o black.ucapref\n"
      "  ucap snap -o a.ome.tif --black-ref black.ucapref --white-table white.ucapref");
  app.require_subcommand(1);
  app.fallthrough();
  tool::CameraOptions camera;
#if UCAP_WITH_VCAM
  app.add_option(
         "--vcam", camera.vcam,
         "attach a virtual camera with this configuration (space-separated key=value words, e.g. "
         "\"sensor=640x480 scene=flat noise=0\") instead of the default one; repeatable, one "
         "camera "
         "each")
      ->expected(1)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
#endif
  CLI::Option* camera_option =
      app.add_option("-c,--camera", camera.camera,
                     "index of the camera to use (default 0; info: every camera)")
          ->check(CLI::NonNegativeNumber);
  app.add_flag("--library-messages", camera.library_messages,
               "let the library show its own error messages too (off: only the tool's one line)");

  auto* list = app.add_subcommand("list", "print the number of attached cameras");
  auto* info = app.add_subcommand("info",
                                  "start the library and describe each camera: sensor, modes, "
                                  "current settings, references, identifier");

  tool::CaptureOptions capture;
  tool::SnapOptions snap_options;
  auto* snap =
      app.add_subcommand("snap",
                         "take one image into an OME-TIFF file (16-bit grey or RGB, 12-bit "
                         "values); an exposure of 0.5 s or more shows a bar on a terminal, "
                         "Ctrl-C aborts it");
  snap->add_option("-o,--output", snap_options.output,
                   "OME-TIFF file to write (name it .ome.tif); replaced only once the new picture "
                   "is complete")
      ->required();
  snap->add_option("--preview", snap_options.preview,
                   "also write an 8-bit PNG preview, contrast stretched");
  add_capture_options(snap, capture);
  add_exposure_option(snap, capture);
  add_black_ref_option(snap, capture);

  tool::StreamOptions stream_options;
  auto* stream = app.add_subcommand("stream",
                                    "fast acquisition into a multi-page OME-TIFF file, one page "
                                    "per frame with its time; a frame that never arrives is "
                                    "counted as dropped; Ctrl-C ends after the next frame, a "
                                    "second Ctrl-C at once");
  auto* frames = stream->add_option("--frames", stream_options.frames, "stop after N frames")
                     ->check(CLI::PositiveNumber);
  auto* seconds = stream->add_option("--seconds", stream_options.seconds, "stop after S seconds")
                      ->check(CLI::PositiveNumber)
                      ->excludes(frames);
  stream->add_option(
      "-o,--output", stream_options.output,
      "OME-TIFF file to write (name it .ome.tif; BigTIFF when it may pass 4 GiB; a full disk "
      "keeps every complete frame); without it frames are only counted");
  add_capture_options(stream, capture);
  add_exposure_option(stream, capture);
  add_black_ref_option(stream, capture);

  tool::CalibrateOptions calibrate_options;
  std::string kind;
  auto* calibrate = app.add_subcommand("calibrate",
                                       "measure a black reference (sensor dark, two exposures) "
                                       "or a white table (even, empty field, four frames) and "
                                       "save it to a calibration file (.ucapref)");
  calibrate->add_option("kind", kind, "black or white")
      ->required()
      ->check(CLI::IsMember({"black", "white"}));
  calibrate
      ->add_option("-o,--output", calibrate_options.output,
                   "calibration file to write; replaced only once the new one is complete")
      ->required();
  add_exposure_option(calibrate, capture);
  add_black_ref_option(calibrate, capture);

  std::string firmware_file;
  auto* firmware = app.add_subcommand("firmware",
                                      "download a firmware text file into the camera and start "
                                      "it; cannot be interrupted");
  firmware->add_option("file", firmware_file, "firmware text file")
      ->required()
      ->check(CLI::ExistingFile);

#ifdef UCAP_WITH_SERVE  // builds with cpp-httplib, nlohmann-json and libjpeg-turbo
  tool::ServeOptions serve_options;
  auto* serve = app.add_subcommand("serve", "live view and control page in the browser");
  serve->add_option("--port", serve_options.port, "TCP port (default 8321; 0: any free one)")
      ->check(CLI::Range(0, 65535));
  serve->add_option("--listen", serve_options.listen, "address to listen on (default 127.0.0.1)");
  serve
      ->add_option("--output-dir", serve_options.output_dir,
                   "directory for snaps, recordings and calibration files")
      ->check(CLI::ExistingDirectory);
  serve->add_option("--token", serve_options.token,
                    "access token (made up and printed when needed and not given)");
  serve->add_option("--allowed-host", serve_options.allowed_hosts,
                    "a further Host name the server answers to");
#endif

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
      calibrate_options.kind =
          kind == "black" ? tool::ReferenceKind::kBlack : tool::ReferenceKind::kWhite;
      return tool::run_calibrate(camera, capture, calibrate_options);
    }
    if (*firmware) return tool::run_firmware(camera, firmware_file);
#ifdef UCAP_WITH_SERVE
    if (*serve) return tool::run_serve(camera, serve_options);
#endif
  } catch (const tool::Failure& failure) {
    std::fprintf(stderr, "ucap: %s\n", failure.what());
    return failure.status();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ucap: %s\n", e.what());
    return tool::kExitFailure;
  }
  return 0;
}
