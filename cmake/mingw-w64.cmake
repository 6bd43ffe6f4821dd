# Cross build of the Windows x64 DLL and its test programs with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64-posix). The -posix compilers carry the thread model that
# std::mutex and std::thread need. Test programs run under Wine.
#
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(UCAP_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${UCAP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${UCAP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${UCAP_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${UCAP_MINGW_TRIPLE})
# Libraries built for Windows elsewhere (the tool's, by .ci/windows_zip.sh): one more root.
if(UCAP_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${UCAP_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs and test discovery run through Wine ("wine" finds the 64-bit loader).
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# Programs and the DLL link with -static (cmake/Windows.cmake): no MinGW runtime DLLs.
