// The error reporter's Windows output, for real: the formatted line reaches
// OutputDebugStringA (seen as the DBG_PRINTEXCEPTION_C it raises, as a debugger sees
// it), MessageBoxA is called with no owner, no caption and style 0x2030 and returns
// (under Wine without a display it returns at once), and the message switch at zero
// suppresses both.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "platform/platform.h"
#include "ucap/ucap.h"

namespace {

// ---- what reached the debugger output ----------------------------------------------------
std::mutex g_seen_mutex;
std::vector<std::string> g_debug_lines;  // guarded by g_seen_mutex

LONG CALLBACK debug_output_seen(EXCEPTION_POINTERS* info) {
  const EXCEPTION_RECORD* rec = info->ExceptionRecord;
  if (rec->ExceptionCode == DBG_PRINTEXCEPTION_C && rec->NumberParameters >= 2) {
    // Parameters: length including the terminating zero, then the text.
    const auto* text = reinterpret_cast<const char*>(rec->ExceptionInformation[1]);
    size_t length = static_cast<size_t>(rec->ExceptionInformation[0]);
    std::lock_guard<std::mutex> lock(g_seen_mutex);
    g_debug_lines.emplace_back(text, length > 0 ? strnlen(text, length) : 0);
  }
  return EXCEPTION_CONTINUE_SEARCH;  // the system's own handling goes on
}

// ---- what reached the message box -------------------------------------------------------------
struct BoxCall {
  HWND owner;
  std::string text;
  bool caption_null;
  UINT style;
  int result;
};
std::vector<BoxCall> g_box_calls;  // guarded by g_seen_mutex
using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
MessageBoxAFn g_real_message_box = nullptr;

int WINAPI recording_message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
  int result = g_real_message_box(owner, text, caption, style);  // the real call
  std::lock_guard<std::mutex> lock(g_seen_mutex);
  g_box_calls.push_back({owner, text, caption == nullptr, style, result});
  return result;
}

// Replaces the import address table entry of `function` from `dll` in this program
// (which carries the platform layer linked in); returns the previous entry or null.
void* patch_import(const char* dll, const char* function, void* replacement) {
  auto* base = reinterpret_cast<unsigned char*>(GetModuleHandleA(nullptr));
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return nullptr;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + imp->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (imp->OriginalFirstThunk != 0 ? imp->OriginalFirstThunk : imp->FirstThunk));
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0) continue;
      DWORD old_protect = 0;
      if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE,
                          &old_protect)) {
        return nullptr;
      }
      void* previous = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
      VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old_protect, &old_protect);
      FlushInstructionCache(GetCurrentProcess(), nullptr, 0);
      return previous;
    }
  }
  return nullptr;
}

class Win32ReporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ucap::platform::set_message_hook(nullptr, nullptr);  // the real output
    UcapSetErrorMessages(1);
    {
      std::lock_guard<std::mutex> lock(g_seen_mutex);
      g_debug_lines.clear();
      g_box_calls.clear();
    }
    handler_ = AddVectoredExceptionHandler(1, debug_output_seen);
    ASSERT_NE(handler_, nullptr);
    void* previous =
        patch_import("user32.dll", "MessageBoxA", reinterpret_cast<void*>(recording_message_box));
    ASSERT_NE(previous, nullptr) << "MessageBoxA is not imported from USER32";
    g_real_message_box = reinterpret_cast<MessageBoxAFn>(previous);
  }
  void TearDown() override {
    if (g_real_message_box != nullptr) {
      patch_import("user32.dll", "MessageBoxA", reinterpret_cast<void*>(g_real_message_box));
    }
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
    UcapSetErrorMessages(1);
  }
  static std::vector<std::string> debug_lines() {
    std::lock_guard<std::mutex> lock(g_seen_mutex);
    return g_debug_lines;
  }
  static std::vector<BoxCall> box_calls() {
    std::lock_guard<std::mutex> lock(g_seen_mutex);
    return g_box_calls;
  }
  void* handler_ = nullptr;
};

TEST_F(Win32ReporterTest, LineReachesDebuggerOutputAndMessageBoxWhichReturns) {
  ucap::report(ucap::msg::kInitError, 2, 10);
  // Reaching this line means the modal box returned: Wine without a display answers at once.
  EXPECT_EQ(debug_lines(), std::vector<std::string>{"(2)Init error 10"});  // no newline added
  std::vector<BoxCall> calls = box_calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].owner, nullptr);
  EXPECT_EQ(calls[0].text, "(2)Init error 10");
  EXPECT_TRUE(calls[0].caption_null);
  EXPECT_EQ(calls[0].style, 0x2030u);
  EXPECT_EQ(calls[0].style, static_cast<UINT>(MB_TASKMODAL | MB_ICONEXCLAMATION | MB_OK));
}

TEST_F(Win32ReporterTest, AccentByteAndTextPassUnchanged) {
  ucap::report(ucap::msg::kBusResetThread);
  const std::string expected = std::string("Couldn") + '\xB4' + "t create bus reset thread";
  EXPECT_EQ(debug_lines(), std::vector<std::string>{expected});
  ASSERT_EQ(box_calls().size(), 1u);
  EXPECT_EQ(box_calls()[0].text, expected);
}

TEST_F(Win32ReporterTest, SwitchAtZeroSuppressesBothOutputs) {
  EXPECT_EQ(UcapSetErrorMessages(0), 0);
  ucap::report(ucap::msg::kAcquisitionError, 2, 10);
  ucap::report(ucap::msg::kCleanupError);
  EXPECT_TRUE(debug_lines().empty());
  EXPECT_TRUE(box_calls().empty());
  EXPECT_EQ(UcapSetErrorMessages(7), 0);  // any non-zero value switches them on again
  ucap::report(ucap::msg::kAcquisitionError, 2, 10);
  EXPECT_EQ(debug_lines(), std::vector<std::string>{"(2)UcapAcquisition error 10"});
  EXPECT_EQ(box_calls().size(), 1u);
}

uint32_t report_from_worker(void*) {
  ucap::report(ucap::msg::kCreateThread, 3);
  return 0;
}

TEST_F(Win32ReporterTest, WorkerThreadWithSmallStackReportsToo) {
  // Frame workers start with a 10,000-byte stack argument and may report.
  ucap::platform::Thread* t = ucap::platform::create_thread(report_from_worker, nullptr, 10000);
  ASSERT_NE(t, nullptr);
  ucap::platform::wait_thread(t);
  ucap::platform::close_thread(t);
  const std::string expected = std::string("(3)Couldn") + '\xB4' + "t create thread";
  EXPECT_EQ(debug_lines(), std::vector<std::string>{expected});
  ASSERT_EQ(box_calls().size(), 1u);
  EXPECT_EQ(box_calls()[0].text, expected);
}

TEST_F(Win32ReporterTest, HookTakesTheLineInsteadOfTheWindowsOutput) {
  std::vector<std::string> hooked;
  ucap::platform::set_message_hook(
      [](const char* text, void* ctx) { static_cast<std::vector<std::string>*>(ctx)->push_back(text); },
      &hooked);
  ucap::report(ucap::msg::kSetupError);
  ucap::platform::set_message_hook(nullptr, nullptr);
  EXPECT_EQ(hooked, std::vector<std::string>{"Setup error"});
  EXPECT_TRUE(debug_lines().empty());
  EXPECT_TRUE(box_calls().empty());
}

}  // namespace
