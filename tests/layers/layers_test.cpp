// The include lines of the library against the layer table of docs/layers.txt.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const fs::path kRoot = UCAP_SOURCE_ROOT;

// Room -> the rooms it may include.
using Table = std::map<std::string, std::set<std::string>>;

Table read_table() {
  Table table;
  std::ifstream in(kRoot / "docs" / "layers.txt");
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::istringstream names(line.substr(0, colon) + " " + line.substr(colon + 1));
    std::string room, allowed;
    names >> room;
    auto& edges = table[room];
    while (names >> allowed) edges.insert(allowed);
  }
  return table;
}

// The room a quoted include names: its first directory, or the including file's own room
// for a name without one.
std::string included_room(const std::string& name, const std::string& own) {
  const size_t slash = name.find('/');
  return slash == std::string::npos ? own : name.substr(0, slash);
}

// "file:line: room -> room" for every include of a room the table does not allow, and
// for every file in a room the table does not know. `checked` counts the includes of
// other rooms that were looked at.
std::vector<std::string> violations(const Table& table, int& checked) {
  std::vector<std::string> found;
  auto scan = [&](const fs::path& file, const std::string& room) {
    const auto row = table.find(room);
    if (row == table.end()) {
      found.push_back(file.string() + ": room " + room + " is not in the table");
      return;
    }
    std::ifstream in(file);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      const size_t hash = line.find_first_not_of(" \t");
      if (hash == std::string::npos || line[hash] != '#') continue;
      std::istringstream words(line.substr(hash + 1));
      std::string directive, name;
      words >> directive >> name;
      if (directive != "include" || name.size() < 2 || name.front() != '"') continue;
      const std::string target = included_room(name.substr(1, name.find('"', 1) - 1), room);
      if (target == room) continue;
      ++checked;
      if (row->second.count(target) == 0) {
        found.push_back(file.string() + ":" + std::to_string(number) + ": " + room + " -> " +
                        target);
      }
    }
  };
  auto sources = [](const fs::path& dir, const std::function<void(const fs::path&)>& each) {
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && (ext == ".h" || ext == ".cpp" || ext == ".c"))
        each(entry.path());
    }
  };
  for (const auto& entry : fs::directory_iterator(kRoot / "src")) {
    if (!entry.is_directory()) continue;
    const std::string room = entry.path().filename().string();
    sources(entry.path(), [&](const fs::path& file) { scan(file, room); });
  }
  for (const char* room : {"vcam", "tools"}) {
    sources(kRoot / room, [&](const fs::path& file) { scan(file, room); });
  }
  return found;
}

TEST(Layers, EveryIncludeFollowsTheTable) {
  const Table table = read_table();
  ASSERT_GT(table.size(), 10u) << "docs/layers.txt not read";
  int checked = 0;
  const std::vector<std::string> found = violations(table, checked);
  EXPECT_GT(checked, 50) << "too few includes found to trust the scan";
  for (const std::string& v : found) ADD_FAILURE() << v;
}

TEST(Layers, TheTableHasNoCycle) {
  Table table = read_table();
  ASSERT_FALSE(table.empty());
  // Rooms that include no room left are taken away until none is left; what stays is on a
  // cycle or includes a room that is.
  for (bool removed = true; removed;) {
    removed = false;
    for (auto it = table.begin(); it != table.end();) {
      std::erase_if(it->second, [&](const std::string& r) { return table.count(r) == 0; });
      if (it->second.empty()) {
        it = table.erase(it);
        removed = true;
      } else {
        ++it;
      }
    }
  }
  for (const auto& row : table) ADD_FAILURE() << "cycle through or below " << row.first;
}

}  // namespace
