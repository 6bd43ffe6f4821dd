# Windows builds: MinGW-w64 (cross, from cmake/mingw-w64.cmake, or on Windows itself)
# and MSVC. Included by the top-level CMakeLists before any target is made.

# ucap.dll and every program in one folder: Windows looks for a program's DLLs beside it.
if(NOT CMAKE_RUNTIME_OUTPUT_DIRECTORY)
  set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/bin)
endif()

if(MINGW)
  # The C and C++ runtimes and winpthread go into ucap.dll and each program, which then
  # import only system DLLs (KERNEL32, msvcrt, USER32, SETUPAPI). -static-libgcc and
  # -static-libstdc++ alone would still leave libwinpthread-1.dll behind.
  add_link_options(-static)
endif()

if(MSVC)
  # The GCC warning flags set for every target mean something else to cl.exe.
  get_directory_property(ucap_options COMPILE_OPTIONS)
  list(REMOVE_ITEM ucap_options -Wall -Wextra -Werror)
  list(APPEND ucap_options /W3 /permissive- /Zc:__cplusplus)
  set_directory_properties(PROPERTIES COMPILE_OPTIONS "${ucap_options}")
endif()

# A version resource for a DLL or program (`file`: its file name, `type`: VFT_DLL or
# VFT_APP): the project's version in the file's properties.
function(ucap_windows_version target file type description)
  set(UCAP_RC_FILE ${file})
  set(UCAP_RC_TYPE ${type})
  set(UCAP_RC_DESCRIPTION ${description})
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc @ONLY)
  target_sources(${target} PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
endfunction()

# Named ucap.dll and ucap.lib (no "lib" prefix) for every toolchain. Exported names come
# from UCAP_API (__declspec(dllexport)) on the C declarations: unmangled and, on x64,
# undecorated. MinGW also writes ucap.def, from which MSVC's lib.exe can make an import
# library for the MinGW-built DLL.
function(ucap_windows_dll target)
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
  target_link_libraries(${target} PRIVATE setupapi user32)
  ucap_windows_version(${target} ucap.dll VFT_DLL "ucap: camera driver library")
  if(MINGW)
    target_link_options(${target} PRIVATE
      "-Wl,--output-def,$<TARGET_FILE_DIR:${target}>/${target}.def")
  endif()
endfunction()

# GoogleTest for the target system: Debian's sources built with the cross compiler.
macro(ucap_cross_gtest)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(UCAP_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
  add_subdirectory(${UCAP_GTEST_SOURCE} ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
endmacro()
