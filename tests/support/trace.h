// Reading the virtual camera's register trace and request log in tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ucap_test {

inline std::string hex8(uint32_t v) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", v);
  return text;
}

// Returns and clears a virtual camera's text log (its register trace: ucap_vcam_trace; its
// driver request log: ucap_vcam_requests).
inline std::string take_log(int (*read)(int, char*, int), int id) {
  const int needed = read(id, nullptr, 0);
  std::string text(static_cast<size_t>(needed > 0 ? needed : 1), '\0');
  const int got = read(id, text.data(), static_cast<int>(text.size()));
  if (got <= 0) return {};
  text.resize(static_cast<size_t>(got) - 1);
  return text;
}

// The lines of a trace; with a prefix ("W ", "R "), only the lines that start with it.
inline std::vector<std::string> trace_lines(const std::string& trace,
                                            const std::string& prefix = "") {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < trace.size()) {
    size_t end = trace.find('\n', start);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(start, end - start);
    if (line.rfind(prefix, 0) == 0) out.push_back(line);
    start = end + 1;
  }
  return out;
}

}  // namespace ucap_test
