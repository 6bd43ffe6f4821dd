// The firmware text parser over arbitrary bytes: it reads nothing at or past the length it
// is given (the input is copied into a block of exactly that size), and a text it accepts
// gives one byte per line, padded to whole blocks.
#include <algorithm>
#include <memory>

#include "device/firmware.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using ucap_fuzz::check;
  const auto text = std::make_unique<char[]>(size);
  std::copy(data, data + size, text.get());
  const int32_t length = static_cast<int32_t>(size);
  const ucap::device::FirmwareImage image = ucap::device::parse_firmware(text.get(), length);
  if (image.code != 0) {
    check(image.code == 8 && image.bytes.empty(), "a refused text yields code 8 and no bytes");
    return 0;
  }
  const size_t lines = static_cast<size_t>(std::count(text.get(), text.get() + size, '\r')) + 1;
  check(image.bytes.size() % 128 == 0, "whole blocks");
  check(image.bytes.size() <= (lines + 127) / 128 * 128, "at most one byte per line");
  return 0;
}
