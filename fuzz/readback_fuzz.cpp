// The values the library reads back from the camera during capture set-up (image position
// and size, that is the transferred rectangle, bytes per packet and packets per frame) are
// whatever the input says; a single shot and a stream frame follow. Each either delivers
// an image inside the caller's buffer or refuses with a code and leaves the buffer alone;
// the isochronous resources always go back, and once the camera reports its own values
// again a shot gives what it gave before the faults.
#include <cstdio>
#include <string>

#include "session.h"

namespace {

// Mode register block offsets of the values read back at set-up.
constexpr int kReadBack[] = {0x008, 0x00C, 0x044, 0x048};

std::string misreport(int mode, int offset, const char* value) {
  char word[64];
  std::snprintf(word, sizeof word, " misreport=mode%d+%X:%s", mode, offset, value);
  return word;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ucap_fuzz;
  static Session session;
  check(session.start("sensor=160x120 noise=0 timescale=4"), "the camera starts");
  Input in(data, size);
  apply_settings(in);
  const int mode = UcapGetCurrentResolution() <= 1 ? 0 : 2;
  std::string faults, clear;
  for (int offset : kReadBack) {
    const uint8_t how = in.byte();
    if ((how & 3) == 0) continue;  // the camera's own value
    char value[16];
    // Small values in each half word most of the time, any value otherwise.
    uint32_t v = in.quadlet();
    if ((how & 3) == 1) v &= 0x007F007F;
    std::snprintf(value, sizeof value, "%X", v);
    faults += misreport(mode, offset, value);
    clear += misreport(mode, offset, "-");
  }
  check(UcapSetExposure(in.integer(250, 2000)) == 0, "exposure");
  // What these settings give with the camera's own values, for the shot after the faults.
  Guarded before(data_bytes());
  const int32_t healthy = UcapAcquisition(before.data(), before.size(), nullptr);
  if (!faults.empty()) check(ucap_vcam_set(0, faults.c_str()) == 0, "misreports set");

  Guarded shot(data_bytes());
  const int32_t code = UcapAcquisition(shot.data(), shot.size(), nullptr);
  check(code == 0 ? shot.guard_intact() : shot.untouched(), "shot image", {code});
  Guarded frame(data_bytes());
  const int32_t ready = stream_one_frame(frame);
  check(ready == 1 ? frame.guard_intact() : frame.untouched(), "stream image", {code, ready});
  if (!clear.empty()) check(ucap_vcam_set(0, clear.c_str()) == 0, "misreports ended");
  check_books(0);
  Guarded after(data_bytes());
  const int32_t next = UcapAcquisition(after.data(), after.size(), nullptr);
  check(next == healthy, "the next shot gives what the healthy camera gave",
        {healthy, code, ready, next});
  return 0;
}
