// The library's table of result codes against the three other places that say what a code
// means: the public header's enum, the `ucap` tool and the Python package. Each must list
// every code with the table's meaning (the header and the tool under the table's names).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "core/errors.h"

namespace {

namespace fs = std::filesystem;

std::string read_file(const fs::path& relative) {
  std::ifstream in(fs::path(UCAP_SOURCE_ROOT) / relative);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Adjacent string literals ("a" "b") as one string, the way both compilers join them.
std::string joined(const std::string& literals) {
  static const std::regex literal("\"((?:[^\"\\\\]|\\\\.)*)\"");
  std::string out;
  for (std::sregex_iterator it(literals.begin(), literals.end(), literal), end; it != end; ++it)
    out += (*it)[1];
  return out;
}

// Runs of blanks and line breaks as one space, without blanks at the ends.
std::string collapsed(const std::string& text) {
  std::string out = std::regex_replace(text, std::regex("\\s+"), " ");
  out = std::regex_replace(out, std::regex("^ | $"), "");
  return out;
}

// key (name or code) -> meaning, for every match of `pattern` (group 1 the key, group 2 the
// meaning as `text` holds it); `clean` turns group 2 into the meaning.
std::map<std::string, std::string> collect(const std::string& text, const std::string& pattern,
                                           std::string (*clean)(const std::string&)) {
  std::map<std::string, std::string> found;
  const std::regex re(pattern);
  for (std::sregex_iterator it(text.begin(), text.end(), re), end; it != end; ++it)
    found[(*it)[1]] = clean((*it)[2]);
  return found;
}

TEST(ErrorTable, HeaderToolAndPythonSayWhatTheLibrarysTableSays) {
  std::map<std::string, std::string> by_name, by_code;
  std::map<std::string, std::string> header_codes;  // name -> code in the header
  for (const ucap::err::CodeRow& row : ucap::err::kCodeTable) {
    by_name[std::string(row.name)] = std::string(row.meaning);
    by_code[std::to_string(row.code)] = std::string(row.meaning);
    EXPECT_FALSE(row.returned_by.empty()) << row.name;
  }
  const std::string header = read_file("include/ucap/ucap.h");
  EXPECT_EQ(collect(header, R"((UCAP_\w+) = \d+,\s*/\*\*<((?:[^*]|\*[^/])*)\*/)", collapsed),
            by_name);
  for (const ucap::err::CodeRow& row : ucap::err::kCodeTable)
    EXPECT_NE(header.find(std::string(row.name) + " = " + std::to_string(row.code) + ","),
              std::string::npos)
        << row.name;
  EXPECT_EQ(
      collect(read_file("tools/ucap/errors.cpp"), R"(\{(UCAP_\w+),\s*((?:"[^"]*"\s*)+)\})", joined),
      by_name);
  EXPECT_EQ(
      collect(read_file("python/ucap/errors.py"), R"(\n\s*(\d+): ((?:"[^"]*"\s*)+),)", joined),
      by_code);
}

}  // namespace
