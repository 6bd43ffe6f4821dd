// Image files: OME-TIFF (one page per frame, 16-bit grey or RGB, OME-XML in the first page)
// through libtiff, and an 8-bit PNG preview through libpng.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "ucap/ucap.h"

typedef struct tiff TIFF;

namespace tool {

// What the OME-XML says about the images of a file.
struct ImageInfo {
  int width = 0, height = 0;
  int channels = 1;             // 1 grey, 3 RGB
  int resolution = 0, bits = 12, binning = 1;
  int32_t exposure_us = 0;
  UcapRect region{};            // image rectangle in the coordinates of the resolution
  std::string camera_id;        // unique identifier, low word, hex
  std::string name;             // the file's name
  std::string date;             // ISO 8601, UTC
};

// The current time as ISO 8601 in UTC ("2024-05-01T12:34:56Z").
std::string utc_now();

// The library's blue, green, red words of every pixel become red, green, blue.
void bgr_to_rgb(std::span<uint16_t> pixels);

class OmeTiffWriter {
 public:
  // `expected_pages`: the pages the caller means to write (0 when not known); a file that
  // ends with another count, or with stream timings, gets its description rewritten.
  // `big`: write BigTIFF (files beyond 4 GiB).
  OmeTiffWriter(const std::string& path, const ImageInfo& info, int expected_pages, bool big);
  ~OmeTiffWriter();
  OmeTiffWriter(const OmeTiffWriter&) = delete;
  OmeTiffWriter& operator=(const OmeTiffWriter&) = delete;

  // One page of width x height x channels words, RGB order; `seconds` since the first frame
  // (streams) or negative (a single image).
  void write_page(const uint16_t* words, double seconds);
  // Finishes the file; the description then tells the pages written. The destructor does
  // the same, quietly.
  void close();
  int pages() const { return static_cast<int>(times_.size()); }

 private:
  std::string path_;
  ImageInfo info_;
  TIFF* tif_ = nullptr;
  std::string first_description_;
  int expected_pages_;
  std::vector<double> times_;
};

// The OME-XML of `pages` planes of `info`; `times` (seconds, may be empty) become DeltaT.
std::string ome_xml(const ImageInfo& info, int pages, const std::vector<double>& times);

// An 8-bit PNG for a quick look: grey or RGB words (RGB order) stretched between the 0.5 %
// and 99.5 % points of their histogram.
void write_preview(const std::string& path, const uint16_t* words, int width, int height,
                   int channels);

}  // namespace tool
