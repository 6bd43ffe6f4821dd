#include "capture.h"
#include "session.h"

#include <charconv>
#include <cmath>

#include "errors.h"
#include "reference_file.h"
#include "ucap/ucap.h"

namespace tool {

std::optional<int64_t> parse_exposure(const std::string& text) {
  static const struct {
    const char* suffix;
    double scale;
  } kUnits[] = {{"us", 1}, {"\xC2\xB5s", 1}, {"ms", 1e3}, {"s", 1e6}};
  for (const auto& unit : kUnits) {
    const std::string suffix = unit.suffix;
    if (text.size() <= suffix.size() ||
        text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
      continue;
    const std::string number = text.substr(0, text.size() - suffix.size());
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size() || !(value >= 0))
      return std::nullopt;
    const double us = std::round(value * unit.scale);
    if (us > 1e12) return std::nullopt;
    return static_cast<int64_t>(us);
  }
  return std::nullopt;
}

void apply_capture_options(int i, uint32_t w, uint32_t h, const CaptureOptions& options) {
  std::optional<Reference> black, white;
  if (!options.black_ref.empty())
    black = read_reference(options.black_ref, ReferenceKind::kBlack, w, h);
  if (!options.white_table.empty())
    white = read_reference(options.white_table, ReferenceKind::kWhite, w, h);

  if (options.resolution) {
    check(UcapmSetResolution(i, *options.resolution),
          "resolution " + std::to_string(*options.resolution));
    int32_t offered = 0;
    if (!options.bits &&
        UcapmHasBitsPerPixel(i, UcapmGetCurrentBitsPerPixel(i), &offered) == UCAP_OK && !offered) {
      for (int bits : {36, 12}) {
        if (UcapmHasBitsPerPixel(i, bits, &offered) == UCAP_OK && offered) {
          check(UcapmSetBitsPerPixel(i, bits), "bits per pixel " + std::to_string(bits));
          break;
        }
      }
    }
  }
  if (options.bits)
    check(UcapmSetBitsPerPixel(i, *options.bits),
          "bits per pixel " + std::to_string(*options.bits));
  if (options.binning)
    check(UcapmSetBinning(i, *options.binning), "binning " + std::to_string(*options.binning));
  if (!options.roi.empty()) {
    const UcapRect roi{options.roi[0], options.roi[1], options.roi[2], options.roi[3]};
    check(UcapmSetImageSize(i, &roi),
          "region " + std::to_string(roi.left) + "," + std::to_string(roi.top) + "," +
              std::to_string(roi.right) + "," + std::to_string(roi.bottom));
  } else {
    check(UcapmSetImageSize(i, nullptr), "whole field");
  }
  if (!options.exposure.empty()) {
    const std::optional<int64_t> us = parse_exposure(options.exposure);
    if (!us)
      throw Failure("exposure " + options.exposure + ": give a number with us, ms or s",
                    kExitUsage);
    const int32_t value = *us > INT32_MAX ? INT32_MAX : static_cast<int32_t>(*us);
    check(UcapmSetExposure(i, value), "exposure " + options.exposure);
  }
  if (black) {
    check(
        UcapmRestoreBlackRef(i, black->words.data(), static_cast<int32_t>(black->words.size() * 2)),
        "loading " + options.black_ref);
    check(UcapmSetBlackRef(i, 1), "switching the black reference on");
  }
  if (white) {
    check(UcapmSetWhiteTable(i, white->words.data()), "loading " + options.white_table);
    check(UcapmSetWhiteRef(i, 1), "switching the white reference on");
  }
  if (options.color_processing)
    check(UcapmEnableColorProcessing(i, *options.color_processing ? 1 : 0), "color processing");
  if (!options.white_balance.empty()) {
    const auto& wb = options.white_balance;
    check(UcapmSetWhiteBalance(i, wb[0], wb[1], wb[2]), "white balance");
  }
}

void apply_capture_options(const Session& session, const CaptureOptions& options) {
  apply_capture_options(session.index(), static_cast<uint32_t>(session.sensor_width()),
                        static_cast<uint32_t>(session.sensor_height()), options);
}

}  // namespace tool
