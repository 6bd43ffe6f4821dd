#!/usr/bin/env bash
# Builds ucap and runs every test suite: the normal build with the soaks, the Python
# package, the tool's files and the installed tree (pytest), the live page in chromium, AddressSanitizer +
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
"$root/scripts/setup.sh"
jobs=$(nproc)
build() {  # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}
# The first stage builds exactly as the README tells users (Release), with warnings as
# errors, so a warning that only the optimiser finds cannot slip in.
echo "== build and test (Release, as the README builds)"
build "$root/build/ci" -DCMAKE_BUILD_TYPE=Release -DUCAP_WERROR=ON
ctest --test-dir "$root/build/ci" --output-on-failure -j"$jobs" -LE soak
echo "== soaks (Release)"
ctest --test-dir "$root/build/ci" --output-on-failure -j"$jobs" -L soak

# The Python package, the ucap tool's files and `cmake --install` with the examples, on the
# build above, with Debian's python3 (setup.sh gave it numpy, pytest and tifffile), not
# whichever python3 comes first on the PATH.
echo "== Python package, ucap tool files, installed tree and examples (pytest)"
skipped=""
python=/usr/bin/python3
if "$python" -c 'import numpy, pytest, tifffile' 2>/dev/null; then
  UCAP_BUILD="$root/build/ci" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -m pytest -p no:cacheprovider -q -rs "$root/python/tests"
else
  echo "== SKIPPED: the Python stage: $python cannot import numpy, pytest and tifffile"
  skipped=" (SKIPPED: the Python stage)"
fi

# `ucap serve` with Debian's chromium driven headless, and its door, on the same build.
echo "== ucap serve: the live page in chromium, and the server's safety rules (pytest)"
if "$python" -c 'import selenium, tifffile' 2>/dev/null && command -v chromedriver >/dev/null; then
  UCAP_BUILD="$root/build/ci" PYTHONDONTWRITEBYTECODE=1 \
    "$python" -m pytest -p no:cacheprovider -q -rs "$root/tools/ucap/tests"
else
  echo "== SKIPPED: the live page stage: no selenium or chromedriver"
  skipped="$skipped (SKIPPED: the live page stage)"
fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
build "$root/build/asan" -DCMAKE_BUILD_TYPE=Debug -DUCAP_WERROR=ON -DUCAP_SANITIZE=address -DUCAP_BUILD_BENCH=OFF -DUCAP_BUILD_TOOLS=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build/asan" --output-on-failure -j"$jobs"

echo "== fuzz targets (clang, libFuzzer, AddressSanitizer + UndefinedBehaviorSanitizer): corpus replay"
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DUCAP_WERROR=ON -DUCAP_FUZZ=ON -DUCAP_SANITIZE=address -DUCAP_BUILD_TESTS=OFF \
  -DUCAP_BUILD_BENCH=OFF -DUCAP_BUILD_TOOLS=OFF >/dev/null
cmake --build "$root/build/fuzz" -j"$jobs" --target \
  ucap_fuzz_firmware_text ucap_fuzz_eeprom ucap_fuzz_reference_stores ucap_fuzz_readback ucap_fuzz_stages
ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$root/build/fuzz" --output-on-failure -j"$jobs" -L fuzz

echo "== ThreadSanitizer (threaded suites)"
build "$root/build/tsan" -DCMAKE_BUILD_TYPE=Debug -DUCAP_WERROR=ON -DUCAP_SANITIZE=thread -DUCAP_BUILD_BENCH=OFF -DUCAP_BUILD_TOOLS=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  ctest --test-dir "$root/build/tsan" --output-on-failure -j"$jobs" -L 'vcam|device|acquisition|soak'

if [ "$windows" = 1 ] && [ -x "$root/.ci/windows.sh" ]; then
  echo "== Windows x64 DLL under Wine"
  "$root/.ci/windows.sh"
fi
echo "== all suites passed$skipped"
