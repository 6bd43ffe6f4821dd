// ucap.dll as an application meets it: its export table read from the file, every name
// resolved by the Windows loader, DllMain, and a few calls through the loaded DLL.
//
// The DLL under test is the one beside this program, or the file named by UCAP_DLL;
// UCAP_DLL_VCAM (1 or 0) says whether it is the test build with the virtual camera.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "report_output_watch.h"

namespace {

// The library's export names, one per line of the expected list, and the virtual
// camera's control surface as the public header declares it.
const char* const kExpectedExports[] = {
#include "expected_exports.inc"
};
const char* const kVcamExports[] = {
#include "vcam_exports.inc"
};

std::string dll_path() {
  if (const char* p = std::getenv("UCAP_DLL"); p != nullptr && *p != '\0') return p;
  char self[MAX_PATH] = {};
  DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string dir(self, n);
  return dir.substr(0, dir.find_last_of("\\/") + 1) + "ucap.dll";
}

bool dll_has_vcam() {
  if (const char* p = std::getenv("UCAP_DLL_VCAM"); p != nullptr && *p != '\0') {
    return std::strcmp(p, "0") != 0;
  }
  return UCAP_DLL_HAS_VCAM != 0;
}

std::set<std::string> expected_names() {
  std::set<std::string> names(std::begin(kExpectedExports), std::end(kExpectedExports));
  names.insert("DllMain");  // the entry point is exported with the interface
  if (dll_has_vcam()) names.insert(std::begin(kVcamExports), std::end(kVcamExports));
  return names;
}

// ---- the export table, read from the PE file with every offset checked ------------------
struct PeExports {
  std::vector<std::string> names;
  std::vector<uint32_t> function_rvas;  // by name, in the order of `names`
  std::vector<std::pair<uint32_t, uint32_t>> code_ranges;  // executable sections
  uint32_t export_dir_rva = 0, export_dir_size = 0;
  std::string dll_name;
  std::string error;
};

class PeFile {
 public:
  explicit PeFile(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)) {}
  template <typename T>
  bool read(size_t offset, T* out) const {
    if (offset > bytes_.size() || bytes_.size() - offset < sizeof(T)) return false;
    std::memcpy(out, bytes_.data() + offset, sizeof(T));
    return true;
  }
  // A zero-terminated string at `offset`, at most `limit` characters; false if unterminated.
  bool string_at(size_t offset, std::string* out, size_t limit = 4096) const {
    if (offset >= bytes_.size()) return false;
    size_t end = std::min(bytes_.size(), offset + limit);
    const auto* first = bytes_.data() + offset;
    const auto* zero = std::find(first, bytes_.data() + end, 0);
    if (zero == bytes_.data() + end) return false;
    out->assign(reinterpret_cast<const char*>(first), static_cast<size_t>(zero - first));
    return true;
  }
  std::vector<IMAGE_SECTION_HEADER> sections;
  // File offset of a relative virtual address, or SIZE_MAX outside every section.
  size_t offset_of(uint32_t rva) const {
    for (const IMAGE_SECTION_HEADER& s : sections) {
      uint32_t size = std::max(s.Misc.VirtualSize, s.SizeOfRawData);
      if (rva >= s.VirtualAddress && rva - s.VirtualAddress < size) {
        uint32_t delta = rva - s.VirtualAddress;
        if (delta >= s.SizeOfRawData) return SIZE_MAX;  // not backed by the file
        return static_cast<size_t>(s.PointerToRawData) + delta;
      }
    }
    return SIZE_MAX;
  }

 private:
  std::vector<unsigned char> bytes_;
};

PeExports read_exports(const std::string& path) {
  PeExports result;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    result.error = "cannot open " + path;
    return result;
  }
  PeFile pe(std::vector<unsigned char>((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>()));
  IMAGE_DOS_HEADER dos{};
  IMAGE_NT_HEADERS64 nt{};
  if (!pe.read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
      !pe.read(static_cast<size_t>(dos.e_lfanew), &nt) || nt.Signature != IMAGE_NT_SIGNATURE) {
    result.error = "not a PE file";
    return result;
  }
  if (nt.FileHeader.Machine != IMAGE_FILE_MACHINE_AMD64 ||
      nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC ||
      (nt.FileHeader.Characteristics & IMAGE_FILE_DLL) == 0) {
    result.error = "not an x64 DLL";
    return result;
  }
  size_t section_table = static_cast<size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                         nt.FileHeader.SizeOfOptionalHeader;
  for (unsigned i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER s{};
    if (!pe.read(section_table + i * sizeof s, &s)) {
      result.error = "section table cut short";
      return result;
    }
    pe.sections.push_back(s);
    if (s.Characteristics & IMAGE_SCN_MEM_EXECUTE) {
      result.code_ranges.emplace_back(s.VirtualAddress, s.VirtualAddress + s.Misc.VirtualSize);
    }
  }
  if (nt.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_EXPORT) {
    result.error = "no data directories";
    return result;
  }
  const IMAGE_DATA_DIRECTORY dir = nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  result.export_dir_rva = dir.VirtualAddress;
  result.export_dir_size = dir.Size;
  IMAGE_EXPORT_DIRECTORY exp{};
  if (dir.VirtualAddress == 0 || !pe.read(pe.offset_of(dir.VirtualAddress), &exp)) {
    result.error = "no export directory";
    return result;
  }
  pe.string_at(pe.offset_of(exp.Name), &result.dll_name);
  size_t names = pe.offset_of(exp.AddressOfNames);
  size_t ordinals = pe.offset_of(exp.AddressOfNameOrdinals);
  size_t functions = pe.offset_of(exp.AddressOfFunctions);
  for (uint32_t i = 0; i < exp.NumberOfNames; ++i) {
    uint32_t name_rva = 0, function_rva = 0;
    uint16_t ordinal = 0;
    std::string name;
    if (!pe.read(names + 4u * i, &name_rva) || !pe.string_at(pe.offset_of(name_rva), &name) ||
        !pe.read(ordinals + 2u * i, &ordinal) || ordinal >= exp.NumberOfFunctions ||
        !pe.read(functions + 4u * ordinal, &function_rva)) {
      result.error = "export entry " + std::to_string(i) + " is damaged";
      return result;
    }
    result.names.push_back(name);
    result.function_rvas.push_back(function_rva);
  }
  return result;
}

TEST(Win32Dll, ExportTableHoldsExactlyTheInterfaceNamesUndecorated) {
  const std::string path = dll_path();
  PeExports exports = read_exports(path);
  ASSERT_TRUE(exports.error.empty()) << path << ": " << exports.error;
  EXPECT_EQ(exports.dll_name, "ucap.dll");

  std::set<std::string> actual(exports.names.begin(), exports.names.end());
  EXPECT_EQ(actual.size(), exports.names.size()) << "a name is exported twice";
  std::set<std::string> expected = expected_names();
  std::vector<std::string> missing, unexpected;
  std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(),
                      std::back_inserter(missing));
  std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(),
                      std::back_inserter(unexpected));
  EXPECT_TRUE(missing.empty()) << "missing: " << ::testing::PrintToString(missing);
  EXPECT_TRUE(unexpected.empty()) << "unexpected: " << ::testing::PrintToString(unexpected);

  for (size_t i = 0; i < exports.names.size(); ++i) {
    const std::string& name = exports.names[i];
    // Undecorated: no C++ mangling, no stdcall "@n", no leading underscore.
    EXPECT_EQ(name.find_first_of("?@"), std::string::npos) << name;
    EXPECT_NE(name.front(), '_') << name;
    // Each export is code in the DLL itself, not a forwarder to another DLL.
    uint32_t rva = exports.function_rvas[i];
    EXPECT_FALSE(rva >= exports.export_dir_rva &&
                 rva < exports.export_dir_rva + exports.export_dir_size)
        << name << " is forwarded";
    bool in_code = std::any_of(exports.code_ranges.begin(), exports.code_ranges.end(),
                               [rva](auto r) { return rva >= r.first && rva < r.second; });
    EXPECT_TRUE(in_code) << name << " does not point into code";
  }
}

// ---- the DLL loaded by the Windows loader --------------------------------------------------
class LoadedDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA(dll_path().c_str());
  }
  static void TearDownTestSuite() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
  }
  void SetUp() override { ASSERT_NE(module_, nullptr) << "LoadLibrary failed: " << GetLastError(); }
  template <typename F>
  static F fn(const char* name) {
    FARPROC p = GetProcAddress(module_, name);
    EXPECT_NE(p, nullptr) << name;
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
  }
  static HMODULE module_;
};
HMODULE LoadedDll::module_ = nullptr;

TEST_F(LoadedDll, LoaderResolvesEveryName) {
  for (const std::string& name : expected_names()) {
    EXPECT_NE(GetProcAddress(module_, name.c_str()), nullptr) << name;
  }
}

TEST_F(LoadedDll, DllMainReturnsTrueForEveryReasonAndDoesNothingElse) {
  using DllMainFn = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
  auto dll_main = fn<DllMainFn>("DllMain");
  ASSERT_NE(dll_main, nullptr);
  auto get_messages = fn<int32_t (*)()>("UcapGetCurrentErrorMessages");
  auto count = fn<int32_t (*)()>("UcapGetNumberofCameras");
  int32_t switch_before = get_messages();
  int32_t cameras_before = count();
  const DWORD reasons[] = {DLL_PROCESS_ATTACH, DLL_THREAD_ATTACH, DLL_THREAD_DETACH, 7};
  for (DWORD reason : reasons) {
    EXPECT_EQ(dll_main(module_, reason, nullptr), TRUE) << reason;
  }
  EXPECT_EQ(get_messages(), switch_before);
  EXPECT_EQ(count(), cameras_before);
}

TEST_F(LoadedDll, StartsWithMessagesOnAndNoCameraTableAndAnswersDoNothingExports) {
  EXPECT_EQ(fn<int32_t (*)()>("UcapGetCurrentErrorMessages")(), 1);
  struct Info { uint32_t w[4]; } info{};
  EXPECT_EQ(fn<int32_t (*)(int32_t, Info*)>("UcapmInfo")(0, &info), 3);
  EXPECT_EQ(fn<int32_t (*)(Info*)>("UcapInfo")(&info), 3);
  EXPECT_EQ(fn<int32_t (*)(void*)>("UcapCalibrate")(nullptr), 15);
  EXPECT_EQ(fn<int32_t (*)()>("UcapHasCalibration")(), 0);
}

TEST_F(LoadedDll, WithoutTheDriverNoCameraIsFound) {
  if (dll_has_vcam()) GTEST_SKIP() << "the test build finds virtual cameras";
  // The product DLL asks SetupDi for the driver's interface class; where the 1394
  // driver is not installed (as under Wine) the set is empty.
  EXPECT_EQ(fn<int32_t (*)()>("UcapGetNumberofCameras")(), 0);
  EXPECT_EQ(fn<int32_t (*)()>("UCapIsAvailable")(), 16);
  EXPECT_EQ(fn<int32_t (*)()>("UcapInit")(), 3);
  EXPECT_EQ(fn<int32_t (*)()>("UcapClose")(), 0);
}

TEST_F(LoadedDll, FailedStartUpReportsThroughDebugOutputAndMessageBoxUnlessSwitchedOff) {
  if (!dll_has_vcam()) GTEST_SKIP() << "needs the virtual camera to make start-up fail";
  auto reset = fn<int (*)()>("ucap_vcam_reset");
  auto attach = fn<int (*)(const char*)>("ucap_vcam_attach");
  auto init = fn<int32_t (*)()>("UcapInit");
  auto close = fn<int32_t (*)()>("UcapClose");
  auto set_messages = fn<int32_t (*)(int32_t)>("UcapSetErrorMessages");
  ucap_test::ReportOutputWatch watch(module_);  // the DLL's own calls of MessageBoxA
  ASSERT_TRUE(watch.ok()) << "ucap.dll does not import MessageBoxA from USER32";

  ASSERT_EQ(reset(), 0);
  ASSERT_GE(attach("fail_open=1"), 0);
  EXPECT_EQ(init(), 3);  // camera 0 cannot be opened
  EXPECT_EQ(watch.debug_lines(), std::vector<std::string>{"(0)Init error 3"});
  std::vector<ucap_test::BoxCall> boxes = watch.box_calls();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text, "(0)Init error 3");
  EXPECT_TRUE(boxes[0].caption_null);
  EXPECT_EQ(boxes[0].style, 0x2030u);

  ASSERT_EQ(set_messages(0), 0);
  ASSERT_EQ(reset(), 0);
  ASSERT_GE(attach("fail_open=1"), 0);
  EXPECT_EQ(init(), 3);  // the same failure, the same code, nothing shown
  EXPECT_EQ(watch.debug_lines().size(), 1u);
  EXPECT_EQ(watch.box_calls().size(), 1u);
  set_messages(1);
  close();
  reset();
}

std::atomic<int> g_resets{0};
std::atomic<uint64_t> g_reset_user{0};
std::atomic<DWORD> g_reset_thread{0};
void on_bus_reset(uint64_t user) {
  g_reset_user.store(user);
  g_reset_thread.store(GetCurrentThreadId());
  g_resets.fetch_add(1);
}

TEST_F(LoadedDll, BusResetReachesTheCallbackOnTheMonitorThreadAndCloseStopsIt) {
  if (!dll_has_vcam()) GTEST_SKIP() << "needs the virtual camera";
  auto reset = fn<int (*)()>("ucap_vcam_reset");
  auto attach = fn<int (*)(const char*)>("ucap_vcam_attach");
  auto bus_reset = fn<int (*)()>("ucap_vcam_bus_reset");
  auto set_callback = fn<int32_t (*)(void (*)(uint64_t), uint64_t)>("UcapSetBusresetCallback");
  auto init = fn<int32_t (*)()>("UcapInit");
  auto close = fn<int32_t (*)()>("UcapClose");
  ASSERT_EQ(reset(), 0);
  ASSERT_GE(attach(""), 0);
  ASSERT_EQ(set_callback(on_bus_reset, 0x1234567890ABCDEFull), 0);
  ASSERT_EQ(init(), 0);
  // The monitor arms its request on its own thread; fire resets until one is seen.
  for (int i = 0; i < 2000 && g_resets.load() == 0; ++i) {
    bus_reset();
    Sleep(5);
  }
  EXPECT_GE(g_resets.load(), 1);
  EXPECT_EQ(g_reset_user.load(), 0x1234567890ABCDEFull);
  EXPECT_NE(g_reset_thread.load(), GetCurrentThreadId());
  EXPECT_EQ(close(), 0);  // signals the monitor's event and waits for the thread
  int after_close = g_resets.load();
  bus_reset();
  Sleep(20);
  EXPECT_EQ(g_resets.load(), after_close);
  set_callback(nullptr, 0);
  reset();
}

}  // namespace
