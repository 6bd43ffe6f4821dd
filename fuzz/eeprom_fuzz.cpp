// The EEPROM as the camera delivers it: blemish count, second count and list (bytes 512
// on) are the input, served by the virtual camera through start-up. Start-up either
// succeeds or refuses the list with 28; a started camera reads its EEPROM back as served
// and takes a shot with the list's blemishes corrected, inside the caller's buffer.
#include <cstdio>
#include <string>

#include "session.h"

namespace {

constexpr size_t kListStart = 512;
constexpr size_t kEepromBytes = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace ucap_fuzz;
  const size_t n = std::min(size, kEepromBytes - kListStart);
  std::string config = "sensor=64x48 noise=0 busy_us=0";
  if (n != 0) {
    config += " eeprom=" + std::to_string(kListStart) + ":";
    char hex[3];
    for (size_t i = 0; i < n; ++i) {
      std::snprintf(hex, sizeof hex, "%02X", data[i]);
      config += hex;
    }
  }
  UcapClose();
  ucap_vcam_reset();
  check(ucap_vcam_attach(config.c_str()) == 0, "the camera attaches");
  UcapSetErrorMessages(0);
  const int32_t init = UcapInit();
  check(init == 0 || init == UCAP_ERR_BLEMISH_LIST, "start-up: 0 or 28");
  if (init == 0) {
    for (size_t i = 0; i < n; ++i)
      check(ReadEprom(static_cast<uint16_t>(kListStart + i), 1) == data[i],
            "EEPROM read as served");
    check(Ucap_corrblems(1) == 1, "the list is valid");
    check(UcapSetResolution(3) == 0 && UcapSetBitsPerPixel(12) == 0 && UcapSetExposure(250) == 0,
          "full-resolution grey settings");
    Guarded image(data_bytes());
    check(UcapAcquisition(image.data(), image.size(), nullptr) == 0, "a shot");
    check(image.guard_intact() && image.twelve_bit(), "the image stays in its buffer and range");
  }
  UcapClose();
  UcapVcamUsage u{};
  check(ucap_vcam_usage(-1, &u) == 0 && u.handles == 0 && u.frame_buffers == 0 && u.resources == 0,
        "start-up and close give everything back");
  return 0;
}
