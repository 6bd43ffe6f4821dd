// Discovery: lists the 1394 driver's device interfaces, sorts them into a stable order
// and numbers the ones whose path names this camera model.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ucap::device {

inline constexpr int kPathSlots = 10;
inline constexpr size_t kPathSlotBytes = 255;  // a path of at most 254 characters

// The fixed path list of one discovery.
struct PathList {
  int count = 0;
  char slots[kPathSlots][kPathSlotBytes] = {};
};

// Lists the interfaces present now (more than ten, or paths longer than 254 characters,
// are skipped).
void list_interfaces(PathList& list);
// Sorts the list by the sort key (or the whole paths where a key cannot be made).
void sort_paths(PathList& list);
// The ten-character sort key of a path; false when the path has none.
bool sort_key(const char* path, char (&key)[11]);
// -1, 0 or 1 in the order discovery sorts.
int compare_paths(const char* a, const char* b);

// Finds camera number `wanted`: copies its path into `path` (at least 255 bytes) and
// returns true when it exists. `matching` receives the number of camera paths present.
bool find_camera_path(int32_t wanted, char* path, int32_t* matching);

}  // namespace ucap::device
