// ucap calibrate, ucap firmware: the reference calculations into calibration files, and
// firmware downloads.
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

#include "commands.h"
#include "errors.h"
#include "progress.h"
#include "ucap/ucap.h"

namespace tool {

int run_calibrate(const CameraOptions& camera, const CaptureOptions& capture,
                  const CalibrateOptions& calibrate) {
  Session session(camera);
  apply_capture_options(session, capture);
  const int i = session.index();
  const bool black = calibrate.kind == ReferenceKind::kBlack;

  StatusLine line;
  // Black: two exposures, (elapsed ms, total ms, 2) each. White: (0, 4, 1), then (i, 4, 2)
  // after frame i.
  ProgressHandler draw = [&](int32_t done, int32_t total, int32_t phase) {
    if (black) {
      line.bar(total <= 1 ? "black reference, short frame" : "black reference, long frame",
               done / 1000.0, total / 1000.0, "s");
    } else {
      line.bar("white reference", phase == 2 ? done + 1 : 0, total, "frames");
    }
  };
  const auto user = reinterpret_cast<intptr_t>(&draw);
  const int32_t rc = black ? UcapmCalculateBlackRefEx(i, progress_callback, user)
                           : UcapmCalculateWhiteRefEx(i, progress_callback, user);
  line.clear();
  if (rc == UCAP_ERR_ABORTED && interrupts() > 0)
    throw Failure("calibration aborted by Ctrl-C: " + describe_code(rc), kExitInterrupted);
  check(rc, black ? "black reference" : "white reference");

  const auto w = static_cast<uint32_t>(session.sensor_width());
  const auto h = static_cast<uint32_t>(session.sensor_height());
  Reference reference{calibrate.kind, w, h,
                      std::vector<uint16_t>(reference_words(calibrate.kind, w, h))};
  if (black) {
    check(UcapmSaveBlackRef(i, reference.words.data(),
                            static_cast<int32_t>(reference.words.size() * 2)),
          "saving the black reference");
  } else {
    check(UcapmGetWhiteTable(i, reference.words.data()), "reading the white table");
  }
  write_reference(calibrate.output, reference);
  std::printf("%s: %s of a %u x %u sensor\n", calibrate.output.c_str(),
              reference_name(calibrate.kind), w, h);
  return 0;
}

int run_firmware(const CameraOptions& camera, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(path + ": cannot open the file");
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (text.size() > static_cast<size_t>(INT32_MAX))
    throw Failure(path + ": too large for a firmware text");
  Session session(camera);

  // The library reports no progress while it downloads: the line shows the time it takes.
  StatusLine line;
  Stopwatch clock;
  std::atomic<bool> done{false};
  int32_t rc = UCAP_OK;
  {
    InterruptShield shield;  // a firmware half written is worse than a wait
    std::thread download([&] {
      rc = UcapmWriteFirmware(session.index(), text.data(), static_cast<int32_t>(text.size()));
      done.store(true);
    });
    while (!done.load()) {
      char status[160];
      std::snprintf(status, sizeof status, "firmware: writing %zu bytes of text, %.1f s%s",
                    text.size(), clock.seconds(),
                    interrupts() ? "  (cannot be interrupted, please wait)" : "");
      line.show(status);
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    download.join();
  }
  line.clear();
  check(rc, "writing the firmware");
  std::printf("%s: firmware written to camera %d and started (%.1f s)\n", path.c_str(),
              session.index(), clock.seconds());
  return 0;
}

}  // namespace tool
