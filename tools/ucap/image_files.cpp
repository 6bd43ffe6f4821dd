#include "image_files.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "errors.h"

namespace tool {
namespace {

// libtiff's complaints end up in the Failure a caller sees, not on stderr.
thread_local std::string tiff_message;

extern "C" void keep_tiff_error(const char* module, const char* format, va_list args) {
  char text[512];
  std::vsnprintf(text, sizeof text, format, args);
  tiff_message = module != nullptr ? std::string(module) + ": " + text : text;
}

extern "C" void ignore_tiff_warning(const char*, const char*, va_list) {}

void quiet_libtiff() {
  TIFFSetErrorHandler(keep_tiff_error);
  TIFFSetWarningHandler(ignore_tiff_warning);
}

Failure tiff_failure(const std::string& path, const char* what) {
  return Failure(path + ": " + what + (tiff_message.empty() ? "" : " (" + tiff_message + ")"));
}

// The time now in `format` (strftime), in UTC or local time.
std::string time_now(const char* format, bool utc) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  if (utc) gmtime_r(&now, &parts);
  else localtime_r(&now, &parts);
  char text[32];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

// OME names 1x1, 2x2, 4x4 and 8x8 binning; the rest is "Other" (the annotation has it).
const char* ome_binning(int binning) {
  switch (binning) {
    case 1: return "1x1";
    case 2: return "2x2";
    case 4: return "4x4";
    default: return "Other";
  }
}

std::string xml_escape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

}  // namespace

std::string utc_now() { return time_now("%Y-%m-%dT%H:%M:%SZ", true); }

void bgr_to_rgb(std::span<uint16_t> pixels) {
  for (size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
}

std::string ome_xml(const ImageInfo& info, int pages, const std::vector<double>& times) {
  const double exposure_s = info.exposure_us / 1e6;
  std::ostringstream x;
  x.precision(9);
  x << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    << "<OME xmlns=\"http://www.openmicroscopy.org/Schemas/OME/2016-06\" "
       "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
       "xsi:schemaLocation=\"http://www.openmicroscopy.org/Schemas/OME/2016-06 "
       "http://www.openmicroscopy.org/Schemas/OME/2016-06/ome.xsd\" Creator=\"ucap\">\n"
    << " <Instrument ID=\"Instrument:0\"><Detector ID=\"Detector:0\" Type=\"CCD\" SerialNumber=\""
    << xml_escape(info.camera_id) << "\"/></Instrument>\n"
    << " <Image ID=\"Image:0\" Name=\"" << xml_escape(info.name) << "\">\n"
    << "  <AcquisitionDate>" << xml_escape(info.date) << "</AcquisitionDate>\n"
    << "  <InstrumentRef ID=\"Instrument:0\"/>\n"
    << "  <Pixels ID=\"Pixels:0\" DimensionOrder=\"XYCZT\" Type=\"uint16\" SignificantBits=\"12\" "
       "Interleaved=\"true\" BigEndian=\"false\" SizeX=\""
    << info.width << "\" SizeY=\"" << info.height << "\" SizeC=\"" << info.channels
    << "\" SizeZ=\"1\" SizeT=\"" << pages << "\">\n"
    << "   <Channel ID=\"Channel:0:0\" Name=\"" << (info.channels == 3 ? "RGB" : "grey")
    << "\" SamplesPerPixel=\"" << info.channels << "\"><DetectorSettings ID=\"Detector:0\" Binning=\""
    << ome_binning(info.binning) << "\"/></Channel>\n"
    << "   <TiffData IFD=\"0\" PlaneCount=\"" << pages << "\"/>\n";
  for (int t = 0; t < pages; ++t) {
    x << "   <Plane TheC=\"0\" TheZ=\"0\" TheT=\"" << t << "\"";
    if (static_cast<size_t>(t) < times.size()) x << " DeltaT=\"" << times[t] << "\" DeltaTUnit=\"s\"";
    x << " ExposureTime=\"" << exposure_s << "\" ExposureTimeUnit=\"s\"/>\n";
  }
  const UcapRect& r = info.region;
  x << "  </Pixels>\n"
    << "  <AnnotationRef ID=\"Annotation:0\"/>\n"
    << " </Image>\n"
    << " <StructuredAnnotations><MapAnnotation ID=\"Annotation:0\" Namespace=\"ucap\"><Value>"
    << "<M K=\"resolution\">" << info.resolution << "</M>"
    << "<M K=\"bits per pixel\">" << info.bits << "</M>"
    << "<M K=\"binning\">" << info.binning << "</M>"
    << "<M K=\"exposure us\">" << info.exposure_us << "</M>"
    << "<M K=\"region\">" << r.left << "," << r.top << "," << r.right << "," << r.bottom << "</M>"
    << "<M K=\"camera id\">" << xml_escape(info.camera_id) << "</M>"
    << "</Value></MapAnnotation></StructuredAnnotations>\n"
    << "</OME>\n";
  return x.str();
}

OmeTiffWriter::OmeTiffWriter(const std::string& path, const ImageInfo& info, int expected_pages, bool big)
    : path_(path), info_(info), expected_pages_(expected_pages) {
  quiet_libtiff();
  tif_ = TIFFOpen(path.c_str(), big ? "w8" : "w");
  if (tif_ == nullptr) throw tiff_failure(path, "cannot create the file");
}

OmeTiffWriter::~OmeTiffWriter() {
  // A file left by a failed command still tells the pages it holds.
  try {
    close();
  } catch (const Failure&) {
  }
}

void OmeTiffWriter::write_page(const uint16_t* words, double seconds) {
  const bool first = times_.empty();
  TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(info_.width));
  TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(info_.height));
  TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, info_.channels);
  TIFFSetField(tif_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
  TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC, info_.channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif_, 0));
  TIFFSetField(tif_, TIFFTAG_SOFTWARE, "ucap");
  if (first) {
    first_description_ = ome_xml(info_, std::max(expected_pages_, 1), {});
    TIFFSetField(tif_, TIFFTAG_IMAGEDESCRIPTION, first_description_.c_str());
    TIFFSetField(tif_, TIFFTAG_DATETIME, time_now("%Y:%m:%d %H:%M:%S", false).c_str());
  }
  const size_t row_words = static_cast<size_t>(info_.width) * info_.channels;
  std::vector<uint16_t> row(row_words);
  for (int y = 0; y < info_.height; ++y) {
    std::copy_n(words + y * row_words, row_words, row.begin());
    if (TIFFWriteScanline(tif_, row.data(), static_cast<uint32_t>(y), 0) < 0)
      throw tiff_failure(path_, "cannot write an image row");
  }
  if (!TIFFWriteDirectory(tif_)) throw tiff_failure(path_, "cannot write a page");
  times_.push_back(seconds);
}

void OmeTiffWriter::close() {
  if (tif_ == nullptr) return;
  TIFFClose(tif_);
  tif_ = nullptr;
  std::vector<double> stream_times;
  if (!times_.empty() && times_.front() >= 0) stream_times = times_;
  const std::string final_description = ome_xml(info_, pages(), stream_times);
  if (pages() == 0 || final_description == first_description_) return;
  // The first page's description is written anew; libtiff puts the page's directory at the
  // end of the file and links it in, the image data stays where it is.
  TIFF* tif = TIFFOpen(path_.c_str(), "r+");
  if (tif == nullptr) throw tiff_failure(path_, "cannot reopen the file");
  const bool done = TIFFSetDirectory(tif, 0) &&
                    TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, final_description.c_str()) &&
                    TIFFRewriteDirectory(tif);
  TIFFClose(tif);
  if (!done) throw tiff_failure(path_, "cannot rewrite the description");
}

void write_preview(const std::string& path, const uint16_t* words, int width, int height, int channels) {
  const size_t n = static_cast<size_t>(width) * height * channels;
  std::vector<size_t> histogram(65536, 0);
  for (size_t i = 0; i < n; ++i) ++histogram[words[i]];
  // The 0.5 % and 99.5 % points: a few hot or dead pixels do not set the range.
  auto point = [&](double share) {
    const size_t target = static_cast<size_t>(share * static_cast<double>(n));
    size_t seen = 0;
    for (size_t v = 0; v < histogram.size(); ++v) {
      seen += histogram[v];
      if (seen > target) return static_cast<int>(v);
    }
    return 65535;
  };
  const int low = point(0.005);
  const int high = std::max(point(0.995), low + 1);
  std::vector<uint8_t> pixels(n);
  for (size_t i = 0; i < n; ++i) {
    const int v = std::clamp(static_cast<int>(words[i]), low, high);
    pixels[i] = static_cast<uint8_t>((v - low) * 255 / (high - low));
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = channels == 3 ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  image.flags = PNG_IMAGE_FLAG_FAST;  // a quick look: written fast rather than small
  if (!png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr)) {
    throw Failure(path + ": cannot write the preview (" + image.message + ")");
  }
}

}  // namespace tool
