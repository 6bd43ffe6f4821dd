#include "device/discovery.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace ucap::device {

namespace {

// {C459DF55-DB08-11D1-B009-00A0C9081FF6} as it lies in memory.
constexpr platform::Guid kInterfaceClass = {{0x55, 0xDF, 0x59, 0xC4, 0x08, 0xDB, 0xD1, 0x11, 0xB0,
                                             0x09, 0x00, 0xA0, 0xC9, 0x08, 0x1F, 0xF6}};

constexpr const char* kPrefixes[] = {
    "\\\\?\\1394#vela_optic&tessera_lx20#",
    "\\\\?\\1394#vela_optic_lumens&tessera_lx20#",
};

int compare_text(const char* a, const char* b) {
  int c = platform::compare_strings(a, b);
  return (c > 0) - (c < 0);
}

int qsort_compare(const void* a, const void* b) {
  return compare_paths(static_cast<const char*>(a), static_cast<const char*>(b));
}

}  // namespace

void list_interfaces(PathList& list) {
  list.count = 0;
  platform::DeviceInfoSet* set = platform::get_class_devs(kInterfaceClass);
  if (set == nullptr) return;
  for (uint32_t k = 0;; ++k) {
    platform::InterfaceData data{};
    data.size = sizeof(platform::InterfaceData);
    if (!platform::enum_device_interface(set, kInterfaceClass, k, &data)) break;
    uint32_t required = 0;
    platform::get_interface_detail(set, &data, nullptr, 0, &required);  // learns the size
    if (required < platform::kDetailPathOffset + 1) required = platform::kDetailPathOffset + 1;
    auto* detail = static_cast<uint8_t*>(platform::local_alloc(required));
    if (detail == nullptr) break;
    uint32_t size_field = platform::kDetailSizeField;
    std::memcpy(detail, &size_field, sizeof size_field);
    if (!platform::get_interface_detail(set, &data, detail, required, nullptr)) {
      platform::local_free(detail);
      break;
    }
    const char* path = reinterpret_cast<const char*>(detail + platform::kDetailPathOffset);
    size_t length = strnlen(path, required - platform::kDetailPathOffset);
    // The fixed list has ten slots of 254 characters: anything beyond is skipped.
    if (list.count < kPathSlots && length < kPathSlotBytes &&
        length < required - platform::kDetailPathOffset) {
      std::memcpy(list.slots[list.count], path, length);
      list.slots[list.count][length] = '\0';
      ++list.count;
    }
    platform::local_free(detail);
  }
  platform::destroy_device_info_list(set);
}

bool sort_key(const char* s, char (&key)[11]) {
  const char* first = std::strchr(s, '#');
  if (first == nullptr) return false;
  const char* second = std::strchr(first + 1, '#');
  if (second == nullptr) return false;
  const char* third = std::strchr(second + 1, '#');
  if (third == nullptr) return false;
  const ptrdiff_t n = third - (second + 1);
  const ptrdiff_t z = 15 - n;
  if (z < 0) return false;
  // w: z zeros, then (when z < 7) the first 7 - z characters of F, one '0', then the two
  // characters 8 and 7 positions before the third '#'.
  char w[32];
  int len = 0;
  for (ptrdiff_t i = 0; i < z; ++i) w[len++] = '0';
  for (ptrdiff_t i = 0; i < 7 - z; ++i) w[len++] = second[1 + i];
  w[len++] = '0';
  // The first '#' stands at least eight characters into an accepted path; guard others.
  const ptrdiff_t third_pos = third - s;
  w[len++] = third_pos >= 8 ? third[-8] : '0';
  w[len++] = third_pos >= 7 ? third[-7] : '0';
  static constexpr int order[10] = {8, 9, 6, 7, 4, 5, 2, 3, 0, 1};
  for (int i = 0; i < 10; ++i) key[i] = w[order[i]];
  key[10] = '\0';
  return true;
}

int compare_paths(const char* a, const char* b) {
  char ka[11];
  char kb[11];
  if (sort_key(a, ka) && sort_key(b, kb)) {
    // Equal keys are ordered by the whole paths, so that the numbering never depends on
    // how the sort happens to leave equal elements.
    int c = compare_text(ka, kb);
    if (c != 0) return c;
  }
  return compare_text(a, b);
}

void sort_paths(PathList& list) {
  if (list.count > 1)
    std::qsort(list.slots, static_cast<size_t>(list.count), kPathSlotBytes, qsort_compare);
}

bool find_camera_path(int32_t wanted, char* path, int32_t* matching) {
  PathList list;
  list_interfaces(list);
  sort_paths(list);
  int32_t count = 0;
  int found = -1;
  for (int i = 0; i < list.count; ++i) {
    for (const char* prefix : kPrefixes) {
      // The path cut to the prefix's length must equal the prefix.
      char cut[kPathSlotBytes];
      size_t n = std::strlen(prefix);
      std::memcpy(cut, list.slots[i], n);
      cut[n] = '\0';
      if (compare_text(cut, prefix) == 0) {
        if (count == wanted) found = i;
        ++count;
      }
    }
  }
  if (matching != nullptr) *matching = count;
  if (found < 0) return false;
  if (path != nullptr) std::memcpy(path, list.slots[found], kPathSlotBytes);
  return true;
}

}  // namespace ucap::device
