// ucap snap, ucap stream: images into OME-TIFF files.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "commands.h"
#include "errors.h"
#include "image_files.h"
#include "pending_file.h"
#include "progress.h"
#include "ucap/ucap.h"

namespace tool {
namespace {

// Exposures shorter than this finish before a bar would be worth drawing.
constexpr int32_t kWatchableExposureUs = 500000;
// Classic TIFF ends at 4 GiB; a stream that may grow past this writes BigTIFF.
constexpr double kClassicTiffBytes = 3.5 * 1024 * 1024 * 1024;

std::string file_name(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

const char* kind_of(const ImageInfo& info) { return info.channels == 3 ? "RGB" : "grey"; }

size_t image_words(const ImageInfo& info) {
  return static_cast<size_t>(info.width) * info.height * info.channels;
}

// A stream whose frame never arrived is stopped by the library (the frame wait ran out); it
// is started again this often in a row before the stream gives up.
constexpr int kRestartsInARow = 3;

}  // namespace

// Size, channels and settings of the images the camera delivers now.
ImageInfo current_image_info(const Session& session) {
  const int i = session.index();
  ImageInfo info;
  int32_t w = 0, h = 0, binning = 1, exposure = 0;
  check(UcapmGetCurrentDataSize(i, &w, &h), "data size");
  check(UcapmGetCurrentBinning(i, &binning), "binning");
  check(UcapmGetCurrentExposure(i, &exposure), "exposure");
  check(UcapmGetCurrentImageSize(i, &info.region), "image size");
  info.width = w;
  info.height = h;
  info.bits = UcapmGetCurrentBitsPerPixel(i);
  info.channels = info.bits == 36 ? 3 : 1;
  info.resolution = UcapmGetCurrentResolution(i);
  info.binning = binning;
  info.exposure_us = exposure;
  info.camera_id = session.camera_id();
  info.date = utc_now();
  return info;
}

int run_snap(const CameraOptions& camera, const CaptureOptions& capture, const SnapOptions& snap) {
  Session session(camera);
  apply_capture_options(session, capture);
  ImageInfo info = current_image_info(session);
  info.name = file_name(snap.output);
  std::vector<uint16_t> image(image_words(info));

  StatusLine line(stderr_is_terminal() && info.exposure_us >= kWatchableExposureUs);
  ProgressHandler draw = [&](int32_t elapsed, int32_t total, int32_t) {
    line.bar(interrupts() ? "aborting" : "exposing", elapsed / 1000.0, total / 1000.0, "s");
  };
  const int32_t rc =
      UcapmAcquisitionEx(session.index(), image.data(), static_cast<int32_t>(image.size() * 2),
                         progress_callback, reinterpret_cast<intptr_t>(&draw));
  line.clear();
  if (rc == UCAP_ERR_ABORTED && interrupts() > 0)
    throw Failure("snap aborted by Ctrl-C: " + describe_code(rc), kExitInterrupted);
  check(rc, "taking the picture");

  if (info.channels == 3) bgr_to_rgb(image);
  write_whole(snap.output, [&](const std::string& path) {
    OmeTiffWriter tiff(path, info, 1, false);
    tiff.write_page(image.data(), -1);
    tiff.close();
  });
  std::printf("%s: %d x %d %s, 16-bit, exposure %g ms\n", snap.output.c_str(), info.width,
              info.height, kind_of(info), info.exposure_us / 1000.0);
  if (!snap.preview.empty()) {
    write_whole(snap.preview, [&](const std::string& path) {
      write_preview(path, image.data(), info.width, info.height, info.channels);
    });
    std::printf("%s: 8-bit preview\n", snap.preview.c_str());
  }
  return 0;
}

int run_stream(const CameraOptions& camera, const CaptureOptions& capture,
               const StreamOptions& stream) {
  Session session(camera);
  apply_capture_options(session, capture);
  ImageInfo info = current_image_info(session);
  info.name = stream.output.empty() ? "" : file_name(stream.output);
  std::vector<uint16_t> image(image_words(info));
  const int i = session.index();

  std::unique_ptr<OmeTiffWriter> tiff;
  if (!stream.output.empty()) {
    const bool big = stream.frames == 0 || stream.frames * image.size() * 2.0 > kClassicTiffBytes;
    tiff = std::make_unique<OmeTiffWriter>(stream.output, info, stream.frames, big);
  }
  check(UcapmStartFastAcquisition(i), "starting the stream");
  bool running = true;
  // Whatever goes wrong below, the stream is stopped before the library closes.
  struct StopOnExit {
    int index;
    bool& running;
    ~StopOnExit() {
      if (running) UcapmAbortFastAcquisition(index);
    }
  } stop_on_exit{i, running};

  StatusLine line;
  Stopwatch clock;
  int frames = 0, dropped = 0, restarts = 0;
  double first = 0, previous = 0;
  auto rate = [&] {
    return frames > 1 && previous > first ? (frames - 1) / (previous - first) : 0.0;
  };
  auto status = [&](const char* note) {
    char text[160];
    std::snprintf(text, sizeof text, "frames %d, %.1f frames/s, dropped %d%s", frames, rate(),
                  dropped, note);
    line.show(text);
  };
  while (running) {
    const bool stop = (stream.seconds > 0 && clock.seconds() >= stream.seconds) || interrupts() > 0;
    const bool last = stop || (stream.frames > 0 && frames + 1 >= stream.frames);
    const int32_t ready = UcapmIsFastAcquisitionReady(
        i, image.data(), static_cast<int32_t>(image.size() * 2), last ? 0 : 1);
    if (ready == 0) {
      if (interrupts() >= 2) {
        check(UcapmAbortFastAcquisition(i), "aborting the stream");
        running = false;
        break;
      }
      if (interrupts() == 1) status("  stopping after this frame (Ctrl-C again: abort)");
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    if (ready == -UCAP_ERR_CAPTURE_WAIT && ++restarts <= kRestartsInARow) {
      // The frame never arrived and the library ended the stream: count it, go on.
      ++dropped;
      if (stop) {
        running = false;
        break;
      }
      check(UcapmStartFastAcquisition(i), "restarting the stream after a dropped frame");
      continue;
    }
    if (ready < 0) check(-ready, "stream frame " + std::to_string(frames + 1));
    restarts = 0;
    const double now = clock.seconds();
    if (frames == 0) first = now;
    previous = now;
    ++frames;
    if (last) running = false;
    if (tiff) {
      if (info.channels == 3) bgr_to_rgb(image);
      tiff->write_page(image.data(), now - first);
    }
    status("");
  }
  line.clear();
  if (tiff) tiff->close();
  std::printf("stream: %d frames of %d x %d %s in %.2f s (%.1f frames/s), dropped %d%s%s\n", frames,
              info.width, info.height, kind_of(info), previous - first, rate(), dropped,
              tiff ? ", written to " : "", stream.output.c_str());
  if (interrupts() > 0)
    throw Failure("stream stopped by Ctrl-C after " + std::to_string(frames) + " frames",
                  kExitInterrupted);
  return 0;
}

}  // namespace tool
