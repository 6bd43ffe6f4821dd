// Reads a fuzzer's bytes as the values a target needs. Past the end every read yields the
// lowest value allowed, so any input, also an empty one, makes a complete case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace ucap_fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t word() {
    const uint16_t low = byte();
    return static_cast<uint16_t>(low | byte() << 8);
  }
  uint32_t quadlet() {
    const uint32_t low = word();
    return low | static_cast<uint32_t>(word()) << 16;
  }
  // A value in lo..hi (hi - lo below 2^32).
  int64_t range(int64_t lo, int64_t hi) {
    const uint64_t span = static_cast<uint64_t>(hi - lo) + 1;
    const uint64_t raw = span <= 0x100 ? byte() : span <= 0x10000 ? word() : quadlet();
    return lo + static_cast<int64_t>(raw % span);
  }
  int32_t integer(int32_t lo, int32_t hi) { return static_cast<int32_t>(range(lo, hi)); }
  bool flag() { return (byte() & 1) != 0; }
  // n words: the rest of the input over and over (zeros when nothing is left).
  std::vector<uint16_t> words(size_t n) {
    std::vector<uint16_t> v(n);
    const size_t left = (size_ - at_) / 2;
    for (size_t i = 0; i < n && left != 0; ++i) {
      const size_t k = at_ + 2 * (i % left);
      v[i] = static_cast<uint16_t>(data_[k] | data_[k + 1] << 8);
    }
    return v;
  }
  // The bytes not read yet.
  std::vector<uint8_t> rest() {
    std::vector<uint8_t> v(data_ + at_, data_ + size_);
    at_ = size_;
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A broken promise of the code under test: the run stops here, naming it and the values
// that tell the case.
[[noreturn]] inline void fail(const char* what, std::initializer_list<long long> values = {}) {
  std::fprintf(stderr, "fuzz check failed: %s", what);
  for (long long v : values) std::fprintf(stderr, " %lld", v);
  std::fprintf(stderr, "\n");
  std::abort();
}
inline void check(bool ok, const char* what, std::initializer_list<long long> values = {}) {
  if (!ok) fail(what, values);
}

}  // namespace ucap_fuzz
