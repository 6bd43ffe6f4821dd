#include "device/firmware.h"

#include <algorithm>

#include "core/errors.h"
#include "platform/platform.h"

namespace ucap::device {

namespace {

constexpr char kCr = '\r';
constexpr char kLf = '\n';
constexpr uint8_t kPadding = 0xFF;
constexpr uint32_t kSettleMs = 500;  // before the start command
constexpr uint32_t kStartMs = 2000;  // after it

size_t whole_blocks(size_t bytes) { return (bytes + kBlockBytes - 1) / kBlockBytes * kBlockBytes; }

// Writes the image block by block through the data window; vendor access is released at
// the end, also after a failure. 0, 8 (too large: nothing is sent) or 27.
int32_t download(CameraRecord& cam, const std::vector<uint8_t>& image) {
  if (image.size() > kMaxFirmwareBytes) return err::kArgument;
  VendorAccess access(cam);
  if (!access.is_open()) return err::kWrite;
  for (size_t at = 0; at + kBlockBytes <= image.size(); at += kBlockBytes) {
    if (block_write(cam, vendor(cam, kVendorDataWindow), image.data() + at) != 0)
      return err::kWrite;
    const uint32_t command = kMemoryWriteFirmware + static_cast<uint32_t>(at);
    if (quadlet_write(cam, vendor(cam, kVendorMemoryCommand), command) != 0) return err::kWrite;
    if (poll_memory_command(access, kFirmwarePollReads) != 0) return err::kWrite;
  }
  return 0;
}

}  // namespace

FirmwareImage parse_firmware(const char* text, int32_t length) {
  if (length < 0 || (text == nullptr && length > 0)) return FirmwareImage{err::kArgument, {}};
  const size_t n = static_cast<size_t>(length);
  FirmwareImage image;
  // One byte per line: each CR ends one, and the last line may end without one.
  const size_t lines = (n == 0 ? 0 : static_cast<size_t>(std::count(text, text + n, kCr))) + 1;
  image.bytes.reserve(whole_blocks(lines));
  uint8_t value = 0;
  bool in_line = false;  // characters since the last line end
  size_t i = 0;
  while (i < n) {
    char c = text[i];
    if (c == ' ') {
      in_line = true;
      while (i < n && text[i] != kCr) ++i;
      if (i == n) break;
      c = kCr;
    }
    if (c == kCr) {
      if (i + 1 < n && text[i + 1] != kLf) return FirmwareImage{err::kArgument, {}};
      image.bytes.push_back(value);
      value = 0;
      in_line = false;
      i += 2;  // the CR and its LF; past the end after a final lone CR
      continue;
    }
    value = static_cast<uint8_t>((value << 1) | (c == '1' ? 1 : 0));
    in_line = true;
    ++i;
  }
  if (in_line) image.bytes.push_back(value);
  image.bytes.resize(whole_blocks(image.bytes.size()), kPadding);
  return image;
}

int32_t write_firmware(CameraRecord& cam, const char* text, int32_t length) {
  if (cam.busy.load() != 0) return err::kBusy;
  const FirmwareImage image = parse_firmware(text, length);
  if (image.code != 0) return image.code;
  const int32_t c = download(cam, image.bytes);
  if (c != 0) return c;

  platform::sleep_ms(kSettleMs);
  VendorAccess access(cam);
  if (!access.is_open()) return err::kWrite;
  // Left open on purpose: the start command hands the camera to the new firmware, and
  // nothing is written to it after that.
  access.leave_open();
  const bool started = quadlet_write(cam, vendor(cam, kVendorStartFirmware), kStartFirmware) == 0;
  platform::sleep_ms(kStartMs);
  return started ? err::kOk : err::kWrite;
}

}  // namespace ucap::device
