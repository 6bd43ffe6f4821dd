#include "reference_file.h"

#include <zlib.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>

#include "errors.h"
#include "pending_file.h"

namespace tool {
namespace {

constexpr char kMagic[8] = {'U', 'C', 'A', 'P', 'R', 'E', 'F', '\0'};
constexpr uint32_t kVersion = 1;
constexpr size_t kHeaderBytes = 32;
constexpr size_t kChecksumAt = 28;

void put32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t get32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// CRC-32 of the header's first 28 bytes and the payload.
uint32_t checksum(const uint8_t* header, const uint8_t* payload, size_t payload_bytes) {
  uLong crc = crc32(0L, Z_NULL, 0);
  crc = crc32(crc, header, kChecksumAt);
  // zlib takes at most 4 GiB - 1 per call; a reference is far smaller, but stay exact.
  for (size_t done = 0; done < payload_bytes;) {
    const size_t part = std::min<size_t>(payload_bytes - done, 1u << 30);
    crc = crc32(crc, payload + done, static_cast<uInt>(part));
    done += part;
  }
  return static_cast<uint32_t>(crc);
}

}  // namespace

size_t reference_words(ReferenceKind kind, uint32_t width, uint32_t height) {
  const size_t rows = kind == ReferenceKind::kBlack ? size_t{height} + 2 : height;
  return rows * width;
}

const char* reference_name(ReferenceKind kind) {
  return kind == ReferenceKind::kBlack ? "black reference" : "white table";
}

void write_reference(const std::string& path, const Reference& reference) {
  std::vector<uint8_t> bytes(kHeaderBytes + reference.words.size() * 2);
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  put32(&bytes[8], kVersion);
  put32(&bytes[12], static_cast<uint32_t>(reference.kind));
  put32(&bytes[16], reference.width);
  put32(&bytes[20], reference.height);
  put32(&bytes[24], static_cast<uint32_t>(reference.words.size()));
  for (size_t i = 0; i < reference.words.size(); ++i) {
    bytes[kHeaderBytes + 2 * i] = static_cast<uint8_t>(reference.words[i]);
    bytes[kHeaderBytes + 2 * i + 1] = static_cast<uint8_t>(reference.words[i] >> 8);
  }
  put32(&bytes[kChecksumAt],
        checksum(bytes.data(), bytes.data() + kHeaderBytes, bytes.size() - kHeaderBytes));
  write_whole(path, [&](const std::string& pending) {
    std::ofstream out(pending, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw Failure(path + ": cannot write the " + reference_name(reference.kind));
  });
}

Reference read_reference(const std::string& path, ReferenceKind kind, uint32_t width,
                         uint32_t height) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw Failure(path + ": cannot open the file");
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  const std::string refused = path + ": refused, nothing loaded: ";
  if (bytes.size() < kHeaderBytes || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    throw Failure(refused + "not a ucap calibration file");
  if (get32(&bytes[8]) != kVersion)
    throw Failure(refused + "file version " + std::to_string(get32(&bytes[8])) +
                  ", this tool reads " + std::to_string(kVersion));
  const uint32_t file_kind = get32(&bytes[12]);
  if (file_kind != static_cast<uint32_t>(ReferenceKind::kBlack) &&
      file_kind != static_cast<uint32_t>(ReferenceKind::kWhite))
    throw Failure(refused + "unknown kind " + std::to_string(file_kind));
  if (file_kind != static_cast<uint32_t>(kind))
    throw Failure(refused + "it holds a " + reference_name(static_cast<ReferenceKind>(file_kind)) +
                  ", not a " + reference_name(kind));
  const uint32_t w = get32(&bytes[16]), h = get32(&bytes[20]);
  if (w != width || h != height)
    throw Failure(refused + "made for a " + std::to_string(w) + " x " + std::to_string(h) +
                  " sensor, this camera's is " + std::to_string(width) + " x " +
                  std::to_string(height));
  const size_t words = reference_words(kind, w, h);
  if (get32(&bytes[24]) != words)
    throw Failure(refused + "damaged (its word count does not fit its sensor size)");
  if (bytes.size() != kHeaderBytes + 2 * words)
    throw Failure(refused + (bytes.size() < kHeaderBytes + 2 * words
                                 ? "truncated"
                                 : "longer than its header says"));
  if (checksum(bytes.data(), bytes.data() + kHeaderBytes, 2 * words) != get32(&bytes[kChecksumAt]))
    throw Failure(refused + "damaged (checksum mismatch)");
  Reference reference{kind, w, h, std::vector<uint16_t>(words)};
  for (size_t i = 0; i < words; ++i)
    reference.words[i] =
        static_cast<uint16_t>(bytes[kHeaderBytes + 2 * i] | bytes[kHeaderBytes + 2 * i + 1] << 8);
  return reference;
}

}  // namespace tool
