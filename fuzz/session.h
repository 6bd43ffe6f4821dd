// What the fuzz targets that run the library against the virtual camera share: a library
// started on one camera, capture settings from the input, a caller's buffer with
// guard words, a bounded stream frame and the check that the books balance.
#pragma once

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "fuzz_input.h"
#include "ucap/ucap.h"
#include "ucap/vcam.h"

namespace ucap_fuzz {

// Keeps the library started on one camera of `config` from one input to the next; a new
// configuration starts it anew. Messages stay off (they would flood the run).
class Session {
 public:
  bool start(const std::string& config) {
    if (config == config_ && started_) return true;
    UcapClose();
    ucap_vcam_reset();
    config_ = config;
    started_ = ucap_vcam_attach(config.c_str()) == 0 && UcapInit() == 0;
    UcapSetErrorMessages(0);
    return started_;
  }

 private:
  std::string config_;
  bool started_ = false;
};

// Capture settings from the input: mostly a combination the camera takes, with the whole
// image, chosen through the Has queries; otherwise any resolution, pixel depth and binning
// in any order (the acquisitions then refuse what the camera cannot take, 8).
inline void apply_settings(Input& in) {
  const uint8_t how = in.byte();
  if ((how & 0x80) != 0) {
    for (int i = 0; i < 3; ++i) {
      switch ((in.byte() + i) % 3) {
        case 0: UcapSetResolution(in.integer(0, 3)); break;
        case 1: UcapSetBitsPerPixel(in.flag() ? 36 : 12); break;
        default: UcapSetBinning(in.integer(1, 5)); break;
      }
    }
    return;
  }
  UcapSetResolution(how % 4);
  const int32_t bits = in.flag() ? 36 : 12;
  UcapSetBitsPerPixel(UcapHasBitsPerPixel(bits) == 1 ? bits : 48 - bits);
  int32_t binning = in.integer(1, 5);
  while (binning > 1 && UcapHasBinning(binning) != 1) --binning;
  UcapSetBinning(binning);
  UcapSetImageSize(nullptr);
}

inline int32_t data_bytes() {
  int32_t w = 0, h = 0;
  // An image rectangle stored reversed gives a negative width and height: no image.
  if (UcapGetCurrentDataSize(&w, &h) != 0 || w <= 0 || h <= 0) return 0;
  return w * h * (UcapGetCurrentBitsPerPixel() == 12 ? 2 : 6);
}

// A caller's image buffer followed by guard words.
class Guarded {
 public:
  explicit Guarded(int32_t bytes)
      : bytes_(bytes), words_(static_cast<size_t>(bytes + 1) / 2 + 16, 0xA5A5) {}
  uint16_t* data() { return words_.data(); }
  int32_t size() const { return bytes_; }
  bool guard_intact() const {
    for (size_t i = static_cast<size_t>(bytes_ + 1) / 2; i < words_.size(); ++i)
      if (words_[i] != 0xA5A5) return false;
    return true;
  }
  bool untouched() const {
    for (uint16_t w : words_)
      if (w != 0xA5A5) return false;
    return true;
  }
  bool twelve_bit() const {
    for (size_t i = 0; i < static_cast<size_t>(bytes_) / 2; ++i)
      if (words_[i] > 4095) return false;
    return true;
  }

 private:
  int32_t bytes_;
  std::vector<uint16_t> words_;
};

// Starts a stream and collects one frame as its last: the readiness check's answer, the
// start's code negated, or 0 when no frame came within a few seconds (the stream is then
// aborted).
inline int32_t stream_one_frame(Guarded& out) {
  const int32_t start = UcapStartFastAcquisition();
  if (start != 0) return -start;
  for (int i = 0; i < 15000; ++i) {
    const int32_t r = UcapIsFastAcquisitionReady(out.data(), out.size(), 0);
    if (r != 0) return r;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  UcapAbortFastAcquisition();
  return 0;
}

// Nothing of the bus's isochronous resources is held once an operation has returned.
inline void check_books(int id) {
  UcapVcamUsage u{};
  check(ucap_vcam_usage(id, &u) == 0, "usage of the camera");
  check(u.bandwidth_handles == 0 && u.channels == 0 && u.resources == 0,
        "isochronous resources given back");
}

}  // namespace ucap_fuzz
