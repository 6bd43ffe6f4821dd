// The reference stores with arbitrary sizes and contents: a black reference restored from
// a buffer of any size (the right one most of the time), a white table of any words, both
// switched on, then a single shot and a stream frame with any allowed setting, image
// rectangle and exposure. Whatever the stores hold, the images stay in the caller's buffer
// and in the 12-bit range, and the books balance. A rectangle stored reversed
// (the interface keeps the caller's values) makes no image: 6 and -6.
#include <string>

#include "session.h"

namespace {

struct Sensor {
  int32_t width, height;
};
// Square and wide sensors (start-up refuses one taller than wide).
constexpr Sensor kSensors[] = {{80, 80}, {160, 120}, {120, 80}, {200, 160}};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ucap_fuzz;
  static Session session;
  Input in(data, size);
  const Sensor s = kSensors[in.integer(0, 3)];
  const std::string config =
      "sensor=" + std::to_string(s.width) + "x" + std::to_string(s.height) + " noise=0 timescale=4";
  check(session.start(config), "the camera starts");
  const int32_t store_bytes = (s.height + 2) * s.width * 2;
  const int32_t size_change = in.flag() ? in.integer(-4, 4) : 0;
  const bool black_on = in.flag(), white_on = in.flag();
  const UcapRect rect{in.integer(-8, s.width), in.integer(-8, s.height), in.integer(0, s.width + 8),
                      in.integer(0, s.height + 8)};
  const bool whole = in.flag();
  const int32_t exposure = in.integer(250, 5000);
  const std::vector<uint16_t> black = in.words(static_cast<size_t>(store_bytes / 2 + 4));
  const std::vector<uint16_t> white = in.words(static_cast<size_t>(s.width * s.height));

  const int32_t restored = UcapRestoreBlackRef(black.data(), store_bytes + size_change);
  check(restored == (size_change == 0 ? 0 : 8), "restore: 0 for the store's size, else 8");
  check(UcapSetWhiteTable(white.data()) == 0, "white table loaded");
  const int32_t black_switch = UcapSetBlackRef(black_on);
  check(black_switch == 0 || (black_switch == 8 && black_on && UcapHasBlackRef() == 0),
        "black switch: 0, or 8 with no reference");
  check(UcapSetWhiteRef(white_on) == 0, "white switch");
  apply_settings(in);
  const int32_t r = UcapSetImageSize(whole ? nullptr : &rect);
  check(r == 0 || r == 8, "image size: 0 or 8");
  check(UcapSetExposure(exposure) == 0, "exposure");

  Guarded shot(data_bytes());
  const int32_t code = UcapAcquisition(shot.data(), shot.size(), nullptr);
  check(code == 0 || code == 8 || (code == 6 && shot.size() == 0),
        "shot: 0, 8 for a rectangle the camera cannot take, 6 for no image",
        {code, shot.size(), rect.left, rect.top, rect.right, rect.bottom, whole});
  check(code == 0 ? shot.guard_intact() && shot.twelve_bit() : shot.untouched(), "shot image",
        {code});
  Guarded frame(data_bytes());
  const int32_t ready = stream_one_frame(frame);
  check(ready == 1 || ready == -8 || (ready == -6 && frame.size() == 0),
        "stream frame: delivered, 8 at the start, -6 for no image", {ready});
  check(ready == 1 ? frame.guard_intact() && frame.twelve_bit() : frame.untouched(), "stream image",
        {ready});
  check_books(0);
  return 0;
}
