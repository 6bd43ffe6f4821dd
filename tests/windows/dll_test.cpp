// ucap.dll loaded by the Windows loader as an application loads it: DllMain, and the
// product DLL's route to a driver that is not installed. (The export table: the
// windows_export_list test; the calls themselves: every suite run against the DLL's objects.)
//
// The DLL under test is the one beside this program, or the file named by UCAP_DLL;
// UCAP_DLL_VCAM (1 or 0) says whether it is the test build with the virtual camera.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

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

class LoadedDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { module_ = LoadLibraryA(dll_path().c_str()); }
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

TEST_F(LoadedDll, WithoutTheDriverNoCameraIsFound) {
  if (dll_has_vcam()) GTEST_SKIP() << "the test build finds virtual cameras";
  // The product DLL asks SetupDi for the driver's interface class; where the 1394
  // driver is not installed (as under Wine) the set is empty.
  EXPECT_EQ(fn<int32_t (*)()>("UcapGetNumberofCameras")(), 0);
  EXPECT_EQ(fn<int32_t (*)()>("UCapIsAvailable")(), 16);
  EXPECT_EQ(fn<int32_t (*)()>("UcapInit")(), 3);
  EXPECT_EQ(fn<int32_t (*)()>("UcapClose")(), 0);
}

}  // namespace
