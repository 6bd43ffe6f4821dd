// Reading the virtual camera's register trace in tests.
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

// The lines of a trace; with a prefix ("W ", "R "), only the lines that start with it.
inline std::vector<std::string> trace_lines(const std::string& trace, const std::string& prefix = "") {
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
