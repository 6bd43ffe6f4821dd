// Image files: OME-TIFF (one page per frame, 16-bit grey or RGB, OME-XML in the first page)
// through libtiff, and an 8-bit PNG preview through libpng.
//
// The first page carries the OME-XML as its ImageDescription (what OME readers and tifffile
// read); a grey file's first page has a second ImageDescription entry after it with ImageJ's
// few lines ("ImageJ=", images=, frames=), which ImageJ's plain TIFF reader takes as the last
// description it meets, so a grey stream opens there as a time series, not as z-slices.
// Both are rewritten in place when a file is finished, so finishing needs no free disk space.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "ucap/ucap.h"

typedef struct tiff TIFF;

namespace tool {

// What the OME-XML says about the images of a file.
struct ImageInfo {
  int width = 0, height = 0;
  int channels = 1;  // 1 grey, 3 RGB
  int resolution = 0, bits = 12, binning = 1;
  int32_t exposure_us = 0;
  UcapRect region{};      // image rectangle in the coordinates of the resolution
  std::string camera_id;  // unique identifier, low word, hex
  std::string name;       // the file's name
  std::string date;       // ISO 8601, UTC
};

// Size, channels and settings of the images the camera of `session` delivers now.
class Session;
ImageInfo current_image_info(const Session& session);

// The current time as ISO 8601 in UTC ("2024-05-01T12:34:56Z").
std::string utc_now();

// The library's blue, green, red words of every pixel become red, green, blue.
void bgr_to_rgb(std::span<uint16_t> pixels);

class OmeTiffWriter {
 public:
  // `expected_pages`: the pages the caller means to write (0 when not known); a file that
  // ends with another count, or with stream timings, gets its descriptions rewritten.
  // `big`: write BigTIFF (files beyond 4 GiB).
  // A page that cannot be written completely (a full disk) is never linked into the file:
  // the file keeps every page written before, and close() makes its descriptions tell
  // that count. A file without any complete page is removed.
  OmeTiffWriter(const std::string& path, const ImageInfo& info, int expected_pages, bool big);
  ~OmeTiffWriter();
  OmeTiffWriter(const OmeTiffWriter&) = delete;
  OmeTiffWriter& operator=(const OmeTiffWriter&) = delete;

  // One page of width x height x channels words, RGB order; `seconds` since the first frame
  // (streams) or negative (a single image).
  void write_page(const uint16_t* words, double seconds);
  // Finishes the file; the descriptions then tell the pages written. The destructor does
  // the same, quietly.
  void close();
  int pages() const { return static_cast<int>(times_.size()); }

  struct Stream {  // what libtiff writes through
    std::FILE* file = nullptr;
    bool failed = false;  // a write failed: every later one is refused
  };
  struct Entry {  // a directory entry of the first page: its place, tag, value's length and place
    uint64_t at;
    uint16_t tag;
    uint64_t count, value;
  };

 private:
  // The descriptions tell the pages written: in short after each page (what a killed command
  // leaves), in full (planes, stream times) at the end; false when the full one found no
  // room on the disk and the short one stands.
  bool update_descriptions(bool final);

  std::string path_;
  ImageInfo info_;
  Stream stream_;
  TIFF* tif_ = nullptr;
  bool big_;
  int expected_pages_;
  std::vector<double> times_;
  std::vector<Entry> descriptions_;  // OME-XML, then ImageJ's lines (grey files)
};

// The OME-XML of `pages` planes of `info`; `times` (seconds, may be empty) become DeltaT.
// Without `planes` it has no Plane elements (its length then hardly depends on `pages`).
std::string ome_xml(const ImageInfo& info, int pages, const std::vector<double>& times,
                    bool planes = true);

// An 8-bit PNG for a quick look: grey or RGB words (RGB order) stretched between the 0.5 %
// and 99.5 % points of their histogram.
void write_preview(const std::string& path, const uint16_t* words, int width, int height,
                   int channels);

}  // namespace tool
