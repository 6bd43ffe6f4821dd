#!/usr/bin/env bash
# Builds ucap and runs every test suite: the normal build with the soaks, the Python
# package, the tool's files and the installed tree (pytest), the live page in chromium, the
# GStreamer element (pytest: pipelines, OpenCV; again under the sanitizers), the Debian package,
# AddressSanitizer +
# UndefinedBehaviorSanitizer, the fuzz targets' corpora replayed through libFuzzer,
# ThreadSanitizer for the threaded suites, and (unless --no-windows) the Windows DLL under
# Wine. The soaks (label "soak") run in every Linux build: in the AddressSanitizer build
# its leak check covers them, in the ThreadSanitizer build their threads.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
windows=1
for a in "$@"; do
  case "$a" in
    --no-windows) windows=0 ;;
    *) echo "usage: $0 [--no-windows]" >&2; exit 2 ;;
  esac
done
started=$SECONDS
stage_name="" stage_start=$SECONDS
stage() {  # ends the running stage with its time and starts the next one
  [ -n "$stage_name" ] && echo "-- $stage_name: $((SECONDS - stage_start)) s"
  stage_name=$1 stage_start=$SECONDS
  [ -n "$1" ] && echo "== $1"
  return 0
}
mkdir -p "$root/build"
# What the builds need first; what only later stages need (the browser, GStreamer's
# runtime, OpenCV, clang, MinGW-w64 and Wine, and the Windows tool's libraries built from
# Debian's sources) comes in the background while the first builds compile.
stage "set-up (the build's packages)"
"$root/scripts/setup.sh" build
later_log="$root/build/setup-later.log"
( "$root/scripts/setup.sh" tests
  if [ "$windows" = 1 ]; then JOBS=1 "$root/.ci/windows_deps.sh"; fi ) >"$later_log" 2>&1 &
later_pid=$!
later_ready() {
  [ -z "$later_pid" ] && return 0
  stage "waiting for the later stages' packages"
  wait "$later_pid" || { cat "$later_log" >&2; echo "set-up of the later stages failed" >&2; exit 1; }
  later_pid=""
}
jobs=$(nproc)
# ccache (from setup.sh) makes a second run, or a configuration sharing sources with an
# earlier one, rebuild only what changed.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root"
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime  # the suites' precompiled header
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}
# The first stage builds exactly as the README tells users (Release), with warnings as
# errors, so a warning that only the optimiser finds cannot slip in.
stage "build and test (Release, as the README builds)"
build "$root/build/ci" -DCMAKE_BUILD_TYPE=Release -DUCAP_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr \
  -DUCAP_INSTALL_PYTHONDIR=lib/python3/dist-packages  # Debian's layout, for the package stage
ctest --test-dir "$root/build/ci" --output-on-failure -j"$jobs" -LE soak
stage "soaks (Release)"
ctest --test-dir "$root/build/ci" --output-on-failure -j"$jobs" -L soak
# The HTML reference: any doxygen warning (an undocumented export among them) fails it.
stage "reference (doxygen, warnings are errors)"
cmake --build "$root/build/ci" --target docs

# The Python package, the ucap tool's files and `cmake --install` with the examples, on the
# build above, with Debian's python3 (setup.sh gave it numpy, pytest and tifffile), not
# whichever python3 comes first on the PATH.
stage "Python package, ucap tool files, installed tree and examples (pytest)"
skipped=""
python=/usr/bin/python3
if "$python" -c 'import numpy, pytest, tifffile' 2>/dev/null; then
  UCAP_BUILD="$root/build/ci" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -m pytest -p no:cacheprovider -q -rs "$root/python/tests"
else
  echo "== SKIPPED: the Python stage: $python cannot import numpy, pytest and tifffile"
  skipped=" (SKIPPED: the Python stage)"
fi

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
build "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DUCAP_WERROR=ON -DUCAP_SANITIZE=address -DUCAP_BUILD_BENCH=OFF -DUCAP_BUILD_TOOLS=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build/asan" --output-on-failure -j"$jobs"
later_ready
stage "formatting (clang-format, the committed .clang-format)"
"$root/scripts/format.sh" --check

# `ucap serve` with Debian's chromium driven headless, and its door, on the same build.
stage "ucap serve: the live page in chromium, and the server's safety rules (pytest)"
if "$python" -c 'import selenium, tifffile' 2>/dev/null && command -v chromedriver >/dev/null; then
  UCAP_BUILD="$root/build/ci" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -m pytest -p no:cacheprovider -q -rs "$root/tools/ucap/tests"
else
  echo "== SKIPPED: the live page stage: no selenium or chromedriver"
  skipped="$skipped (SKIPPED: the live page stage)"
fi

# The GStreamer element (built with the rest when Debian's GStreamer packages are there):
# gst-inspect-1.0 and gst-launch-1.0 pipelines, an application's pipeline through
# GObject introspection, OpenCV.
gst_tests="$root/gst/tests"
gst_ready() { [ -f "$1/gst/libgstucap.so" ] && "$python" -c 'import cv2, gi, numpy, pytest' 2>/dev/null; }
stage "GStreamer element ucapsrc (pytest)"
if gst_ready "$root/build/ci"; then
  UCAP_BUILD="$root/build/ci" PYTHONDONTWRITEBYTECODE=1 "$python" -m pytest -p no:cacheprovider -q -rs "$gst_tests"
else
  echo "== SKIPPED: the GStreamer stage: no plugin built or no cv2/gi for $python"
  skipped="$skipped (SKIPPED: the GStreamer stage)"
fi

# The Debian package of the build above, installed into this machine as a user would, used
# (a picture, the C example through pkg-config and find_package, the Python package from
# Debian's path, the manual page) with nothing of the source tree, then purged: no file of it
# may stay behind.
stage "Debian package (cpack): install, use, purge"
(cd "$root/build/ci" && cpack -G DEB -B "$root/build/ci/package" >/dev/null)
deb=$(ls "$root"/build/ci/package/ucap_*_amd64.deb)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
apt=(env DEBIAN_FRONTEND=noninteractive apt-get -y -qq -o DPkg::Lock::Timeout=600)
$SUDO "${apt[@]}" install "$deb" >/dev/null
packaged=$(dpkg-query -L ucap)
scratch=$(mktemp -d)
(cd "$scratch" && env -u UCAP_LIBRARY -u LD_LIBRARY_PATH -u PYTHONPATH -u PYTHONDONTWRITEBYTECODE bash -ec "
  ucap --vcam sensor=256x192 snap -o a.ome.tif
  /usr/bin/python3 -c 'import ucap; assert ucap.camera_count() == 1'
  cc '$root/examples/c/snap.c' \$(pkg-config --cflags --libs ucap) -o snap && ./snap
  cmake -S '$root/examples/c' -B example -G Ninja >/dev/null && cmake --build example >/dev/null && example/snap
  test -f /usr/share/man/man1/ucap.1")
rm -rf "$scratch"
$SUDO "${apt[@]}" purge ucap >/dev/null
for f in $packaged; do
  [ -d "$f" ] && [ ! -L "$f" ] && [ "$f" != /usr/lib/python3/dist-packages/ucap ] && continue  # shared folders
  if [ -e "$f" ] || [ -L "$f" ]; then echo "left behind after purge: $f" >&2; exit 1; fi
done

# The element under the sanitizers: pipelines through gst-launch-1.0, settings changed while
# playing and the state-change loop, with the sanitizer runtime preloaded into programs that
# were not built with it (and the C++ runtime, whose exceptions the sanitizer must find
# when it starts).
# GStreamer and Python keep their own allocations to the end: no leak check here (the
# library's own suites above have it). A sanitizer report ends a program with status 86,
# which no test expects (the unplug test expects 1).
if gst_ready "$root/build/asan"; then
  stage "GStreamer element under AddressSanitizer + UndefinedBehaviorSanitizer"
  UCAP_BUILD="$root/build/asan" UCAP_GST_CYCLES=20 PYTHONDONTWRITEBYTECODE=1 \
    LD_PRELOAD="$(gcc -print-file-name=libasan.so) $(gcc -print-file-name=libstdc++.so)" \
    ASAN_OPTIONS=detect_leaks=0:exitcode=86 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$python" -m pytest -p no:cacheprovider -q "$gst_tests" -k "not inspect and not opencv"
fi

stage "fuzz targets (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer): corpus replay"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUCAP_WERROR=ON -DUCAP_FUZZ=ON -DUCAP_SANITIZE=address -DUCAP_BUILD_TESTS=OFF \
  -DUCAP_BUILD_BENCH=OFF -DUCAP_BUILD_TOOLS=OFF "${launcher[@]}" >/dev/null
cmake --build "$root/build/fuzz" -j"$jobs" --target \
  ucap_fuzz_firmware_text ucap_fuzz_eeprom ucap_fuzz_reference_stores ucap_fuzz_readback ucap_fuzz_stages
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$root/build/fuzz" --output-on-failure -j"$jobs" -L fuzz

stage "ThreadSanitizer (threaded suites)"
# Only the suites with threads of their own are built here.
cmake -S "$root" -B "$root/build/tsan" -G Ninja "${launcher[@]}" -DCMAKE_BUILD_TYPE=Debug -DUCAP_WERROR=ON \
  -DUCAP_SANITIZE=thread -DUCAP_BUILD_BENCH=OFF -DUCAP_BUILD_TOOLS=OFF >/dev/null
cmake --build "$root/build/tsan" -j"$jobs" --target ucap_vcam_tests ucap_device_tests \
  ucap_acquisition_tests ucap_soak_tests ucap_shipped_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir "$root/build/tsan" --output-on-failure -j"$jobs" -L 'vcam|device|acquisition|soak'

if [ "$windows" = 1 ] && [ -x "$root/.ci/windows.sh" ]; then
  stage "Windows x64 DLL under Wine"
  "$root/.ci/windows.sh"
fi
stage ""
echo "== all suites passed in $((SECONDS - started)) s$skipped"
