// Watches the Windows output of the error reporter in this process: the lines that reach
// OutputDebugStringA (seen as the DBG_PRINTEXCEPTION_C it raises, as a debugger sees it)
// and the MessageBoxA calls made through one module's import table (its entry replaced
// by a recorder that calls the real function and notes its arguments and result).
// One watch at a time.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace ucap_test {

struct BoxCall {
  HWND owner;
  std::string text;
  bool caption_null;
  UINT style;
  int result;
};

class ReportOutputWatch {
 public:
  // module: the program or DLL whose calls of MessageBoxA are watched.
  explicit ReportOutputWatch(HMODULE module) : module_(module) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      debug_lines_.clear();
      box_calls_.clear();
    }
    real_message_box_ = nullptr;
    handler_ = AddVectoredExceptionHandler(1, debug_output_seen);
    void* previous = patch_import(module_, "user32.dll", "MessageBoxA",
                                  reinterpret_cast<void*>(recording_message_box));
    real_message_box_ = reinterpret_cast<MessageBoxAFn>(previous);
  }
  ~ReportOutputWatch() {
    if (real_message_box_ != nullptr) {
      patch_import(module_, "user32.dll", "MessageBoxA",
                   reinterpret_cast<void*>(real_message_box_));
      real_message_box_ = nullptr;
    }
    if (handler_ != nullptr) RemoveVectoredExceptionHandler(handler_);
  }
  ReportOutputWatch(const ReportOutputWatch&) = delete;
  ReportOutputWatch& operator=(const ReportOutputWatch&) = delete;

  // Both watches are in place (the module imports MessageBoxA from USER32).
  bool ok() const { return handler_ != nullptr && real_message_box_ != nullptr; }
  std::vector<std::string> debug_lines() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return debug_lines_;
  }
  std::vector<BoxCall> box_calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return box_calls_;
  }

 private:
  using MessageBoxAFn = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);

  static LONG CALLBACK debug_output_seen(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* rec = info->ExceptionRecord;
    if (rec->ExceptionCode == DBG_PRINTEXCEPTION_C && rec->NumberParameters >= 2) {
      // Parameters: length including the terminating zero, then the text.
      const auto* text = reinterpret_cast<const char*>(rec->ExceptionInformation[1]);
      size_t length = static_cast<size_t>(rec->ExceptionInformation[0]);
      std::lock_guard<std::mutex> lock(mutex_);
      debug_lines_.emplace_back(text, length > 0 ? strnlen(text, length) : 0);
    }
    return EXCEPTION_CONTINUE_SEARCH;  // the system's own handling goes on
  }

  static int WINAPI recording_message_box(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    int result = real_message_box_(owner, text, caption, style);  // the real call
    std::lock_guard<std::mutex> lock(mutex_);
    box_calls_.push_back({owner, text, caption == nullptr, style, result});
    return result;
  }

  // Replaces the import address table entry of `function` from `dll` in `module`;
  // returns the previous entry, or null when the module does not import it.
  static void* patch_import(HMODULE module, const char* dll, const char* function,
                            void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
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

  HMODULE module_;
  void* handler_ = nullptr;
  static inline std::mutex mutex_;
  static inline std::vector<std::string> debug_lines_;  // guarded by mutex_
  static inline std::vector<BoxCall> box_calls_;        // guarded by mutex_
  static inline MessageBoxAFn real_message_box_ = nullptr;
};

}  // namespace ucap_test
