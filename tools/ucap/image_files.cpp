#include "image_files.h"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
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
#ifdef _WIN32
  if (utc)
    gmtime_s(&parts, &now);
  else
    localtime_s(&parts, &now);
#else
  if (utc)
    gmtime_r(&now, &parts);
  else
    localtime_r(&now, &parts);
#endif
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

// libtiff writes through an unbuffered stdio stream of our own: a write that fails (a full
// disk, a file size limit) marks the stream failed and every later write is refused, so
// nothing of a page that could not be finished (its directory, the link to it) reaches the
// file.
OmeTiffWriter::Stream* stream_of(thandle_t handle) {
  return static_cast<OmeTiffWriter::Stream*>(handle);
}

bool seek_to(std::FILE* file, uint64_t at) {
#ifdef _WIN32
  return _fseeki64(file, static_cast<int64_t>(at), SEEK_SET) == 0;
#else
  return fseeko(file, static_cast<off_t>(at), SEEK_SET) == 0;
#endif
}

uint64_t file_end(std::FILE* file) {
#ifdef _WIN32
  _fseeki64(file, 0, SEEK_END);
  return static_cast<uint64_t>(_ftelli64(file));
#else
  fseeko(file, 0, SEEK_END);
  return static_cast<uint64_t>(ftello(file));
#endif
}

extern "C" tmsize_t tiff_read(thandle_t h, void* buffer, tmsize_t size) {
  return static_cast<tmsize_t>(
      std::fread(buffer, 1, static_cast<size_t>(size), stream_of(h)->file));
}

extern "C" tmsize_t tiff_write(thandle_t h, void* buffer, tmsize_t size) {
  OmeTiffWriter::Stream* s = stream_of(h);
  if (s->failed) return 0;
  const size_t done = std::fwrite(buffer, 1, static_cast<size_t>(size), s->file);
  if (done != static_cast<size_t>(size)) s->failed = true;
  return static_cast<tmsize_t>(done);
}

extern "C" toff_t tiff_seek(thandle_t h, toff_t offset, int whence) {
  std::FILE* file = stream_of(h)->file;
  if (whence == SEEK_END) return file_end(file);
  if (whence == SEEK_CUR) {
#ifdef _WIN32
    offset += static_cast<toff_t>(_ftelli64(file));
#else
    offset += static_cast<toff_t>(ftello(file));
#endif
  }
  return seek_to(file, offset) ? offset : static_cast<toff_t>(-1);
}

extern "C" int tiff_close(thandle_t) { return 0; }  // the writer closes the stream itself
extern "C" toff_t tiff_size(thandle_t h) { return file_end(stream_of(h)->file); }
extern "C" int tiff_map(thandle_t, void**, toff_t*) { return 0; }
extern "C" void tiff_unmap(thandle_t, void*, toff_t) {}

// `text` with spaces inserted at `at` up to `size` characters.
std::string padded(std::string text, size_t size, size_t at) {
  if (text.size() < size) text.insert(at, size - text.size(), ' ');
  return text;
}
// OME-XML padded after its declaration, where white space is allowed.
std::string padded(const std::string& xml, size_t size) {
  return padded(xml, size, xml.find("?>\n") + 3);
}

// What ImageJ reads from the first description starting "ImageJ=": a grey series of
// `pages` time points. Padding after it is a blank line to ImageJ.
std::string imagej_text(int pages) {
  const std::string n = std::to_string(pages);
  return "ImageJ=1.11a\nimages=" + n + "\nframes=" + n + "\n";
}
std::string padded_lines(const std::string& lines, size_t size) {
  return padded(lines, size, lines.size());
}

using DirectoryEntry = OmeTiffWriter::Entry;

// Little-endian words of the file, read and written in place.
struct FileBytes {
  std::FILE* file;
  const std::string& path;
  bool big;

  uint64_t get(uint64_t at, int bytes) const {
    uint8_t b[8];
    if (!seek_to(file, at) ||
        std::fread(b, 1, static_cast<size_t>(bytes), file) != static_cast<size_t>(bytes))
      throw Failure(path + ": cannot read the file back");
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | b[i];
    return v;
  }
  bool put(uint64_t at, const void* bytes, size_t size) const {
    return seek_to(file, at) && std::fwrite(bytes, 1, size, file) == size;
  }
  void put(uint64_t at, uint64_t v, int bytes) const {
    uint8_t b[8];
    for (int i = 0; i < bytes; ++i) b[i] = static_cast<uint8_t>(v >> (8 * i));
    if (!put(at, b, static_cast<size_t>(bytes)))
      throw Failure(path + ": cannot update the first page");
  }

  std::vector<DirectoryEntry> first_directory() const {
    const int word = big ? 8 : 4;
    const uint64_t directory = get(big ? 8 : 4, word);
    const uint64_t entries = get(directory, big ? 8 : 2);
    const uint64_t entry_bytes = big ? 20 : 12;
    if (entries > 4096) throw Failure(path + ": the first page's directory is damaged");
    std::vector<DirectoryEntry> list;
    for (uint64_t i = 0; i < entries; ++i) {
      const uint64_t at = directory + (big ? 8 : 2) + i * entry_bytes;
      list.push_back(
          {at, static_cast<uint16_t>(get(at, 2)), get(at + 4, word), get(at + 4 + word, word)});
    }
    return list;
  }

  // `text` (OME-XML or ImageJ's lines) becomes the value of ASCII entry `e`: in place when
  // it fits, padded, otherwise appended at the end and the entry pointed there. Where the
  // disk has no room for that, `fallback` (which always fits) goes in place. False when the
  // fallback went in.
  bool replace_text(const DirectoryEntry& e, const std::string& text, const std::string& fallback,
                    bool xml) const {
    if (text.size() < e.count) {
      const std::string value = xml ? padded(text, e.count - 1) : padded_lines(text, e.count - 1);
      if (!put(e.value, value.c_str(), e.count))
        throw Failure(path + ": cannot update the first page");
      return true;
    }
    const uint64_t end = file_end(file);
    const uint64_t at = end + (end & 1);  // values start on a word boundary
    const bool fits = big || at + text.size() + 1 <= UINT32_MAX;
    if (fits && put(end, "\0", at - end) && put(at, text.c_str(), text.size() + 1)) {
      const int word = big ? 8 : 4;
      put(e.at + 4, text.size() + 1, word);
      put(e.at + 4 + word, at, word);
      return true;
    }
    if (fallback.size() >= e.count) throw Failure(path + ": no room for the description");
    replace_text(e, fallback, fallback, xml);
    return false;
  }
};
}  // namespace

std::string utc_now() { return time_now("%Y-%m-%dT%H:%M:%SZ", true); }

void bgr_to_rgb(std::span<uint16_t> pixels) {
  for (size_t i = 0; i + 2 < pixels.size(); i += 3) std::swap(pixels[i], pixels[i + 2]);
}

std::string ome_xml(const ImageInfo& info, int pages, const std::vector<double>& times,
                    bool planes) {
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
    << "\" SamplesPerPixel=\"" << info.channels
    << "\"><DetectorSettings ID=\"Detector:0\" Binning=\"" << ome_binning(info.binning)
    << "\"/></Channel>\n"
    << "   <TiffData IFD=\"0\" PlaneCount=\"" << pages << "\"/>\n";
  for (int t = 0; planes && t < pages; ++t) {
    x << "   <Plane TheC=\"0\" TheZ=\"0\" TheT=\"" << t << "\"";
    if (static_cast<size_t>(t) < times.size())
      x << " DeltaT=\"" << times[t] << "\" DeltaTUnit=\"s\"";
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

OmeTiffWriter::OmeTiffWriter(const std::string& path, const ImageInfo& info, int expected_pages,
                             bool big)
    : path_(path), info_(info), big_(big), expected_pages_(expected_pages) {
  quiet_libtiff();
  stream_.file = std::fopen(path.c_str(), "w+b");
  if (stream_.file == nullptr)
    throw Failure(path + ": cannot create the file (" + std::strerror(errno) + ")");
  std::setvbuf(stream_.file, nullptr, _IONBF, 0);  // a write that fails says so at once
  tif_ = TIFFClientOpen(path.c_str(), big ? "w8l" : "wl", &stream_, tiff_read, tiff_write,
                        tiff_seek, tiff_close, tiff_size, tiff_map, tiff_unmap);
  if (tif_ == nullptr) {
    std::fclose(stream_.file);
    stream_.file = nullptr;
    std::remove(path.c_str());
    throw tiff_failure(path, "cannot create the file");
  }
}

OmeTiffWriter::~OmeTiffWriter() {
  // A file left by a failed command still tells the pages it holds.
  try {
    close();
  } catch (const Failure&) {}
}

void OmeTiffWriter::write_page(const uint16_t* words, double seconds) {
  if (stream_.failed) throw tiff_failure(path_, "cannot write an image row");
  const bool first = times_.empty();
  TIFFSetField(tif_, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(info_.width));
  TIFFSetField(tif_, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(info_.height));
  TIFFSetField(tif_, TIFFTAG_BITSPERSAMPLE, 16);
  TIFFSetField(tif_, TIFFTAG_SAMPLESPERPIXEL, info_.channels);
  TIFFSetField(tif_, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
  TIFFSetField(tif_, TIFFTAG_PHOTOMETRIC,
               info_.channels == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif_, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif_, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
  TIFFSetField(tif_, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif_, 0));
  TIFFSetField(tif_, TIFFTAG_SOFTWARE, "ucap");
  if (first) {
    // Written with room for what close() writes in their place: the OME-XML without planes
    // for any page count, ImageJ's lines for any count. ImageJ's lines go in as the Make
    // entry, which is renamed once the page is written (libtiff writes one entry per tag).
    // Grey files only: ImageJ has no layout for 16-bit RGB pages and fails on such a file
    // with its lines, it opens it as channels and z-slices without them.
    const int pages = std::max(expected_pages_, 1);
    const std::string xml = ome_xml(info_, pages, {});
    const std::string xml_room = ome_xml(info_, INT32_MAX, {}, false);
    TIFFSetField(tif_, TIFFTAG_IMAGEDESCRIPTION,
                 padded(xml, std::max(xml.size(), xml_room.size())).c_str());
    if (info_.channels == 1)
      TIFFSetField(tif_, TIFFTAG_MAKE,
                   padded_lines(imagej_text(pages), imagej_text(INT32_MAX).size()).c_str());
    TIFFSetField(tif_, TIFFTAG_DATETIME, time_now("%Y:%m:%d %H:%M:%S", false).c_str());
  }
  const size_t row_words = static_cast<size_t>(info_.width) * info_.channels;
  std::vector<uint16_t> row(row_words);
  for (int y = 0; y < info_.height; ++y) {
    std::copy_n(words + y * row_words, row_words, row.begin());
    if (TIFFWriteScanline(tif_, row.data(), static_cast<uint32_t>(y), 0) < 0)
      throw tiff_failure(path_, "cannot write an image row");
  }
  if (!TIFFWriteDirectory(tif_) || stream_.failed) throw tiff_failure(path_, "cannot write a page");
  if (first) {
    const FileBytes file{stream_.file, path_, big_};
    for (Entry e : file.first_directory()) {
      if (e.tag == TIFFTAG_MAKE) {
        file.put(e.at, TIFFTAG_IMAGEDESCRIPTION, 2);
        e.tag = TIFFTAG_IMAGEDESCRIPTION;
      }
      if (e.tag == TIFFTAG_IMAGEDESCRIPTION) descriptions_.push_back(e);
    }
    if (descriptions_.empty()) throw Failure(path_ + ": the first page's description is missing");
  }
  times_.push_back(seconds);
  update_descriptions(false);
}

void OmeTiffWriter::close() {
  if (stream_.file == nullptr) return;
  // After a failed write libtiff's last flush of the unfinished page writes nothing, so the
  // page is never linked in.
  TIFFClose(tif_);
  tif_ = nullptr;
  std::string failure;
  try {
    if (pages() > 0 && !update_descriptions(true))
      failure = path_ + ": no room left for the description in full; the file holds its " +
                std::to_string(pages()) + " images without their times";
  } catch (const Failure& f) {
    failure = f.what();
  }
  const bool closed = std::fclose(stream_.file) == 0;
  stream_.file = nullptr;
  if (pages() == 0) {
    std::remove(path_.c_str());
    return;
  }
  if (!failure.empty()) throw Failure(failure);
  if (!closed) throw Failure(path_ + ": cannot finish the file (" + std::strerror(errno) + ")");
}

bool OmeTiffWriter::update_descriptions(bool final) {
  const FileBytes file{stream_.file, path_, big_};
  std::vector<double> stream_times;
  if (!times_.empty() && times_.front() >= 0) stream_times = times_;
  const std::string short_xml = ome_xml(info_, pages(), {}, false);
  const bool full = file.replace_text(
      descriptions_[0], final ? ome_xml(info_, pages(), stream_times) : short_xml, short_xml, true);
  if (descriptions_.size() > 1) {
    const std::string lines = imagej_text(pages());
    file.replace_text(descriptions_[1], lines, lines, false);
  }
  return full;
}

void write_preview(const std::string& path, const uint16_t* words, int width, int height,
                   int channels) {
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
