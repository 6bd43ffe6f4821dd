#!/usr/bin/env bash
# The main job: builds the library and its command-line tool, then takes a picture with the
# default virtual camera: build/run/snap.tif (16-bit OME-TIFF) and build/run/snap.png (8-bit
# preview). Arguments, if any, go to the tool instead (see `scripts/run.sh --help`), e.g.
# `scripts/run.sh info`, `scripts/run.sh snap -o my.tif --exposure 2s` or `scripts/run.sh serve`
# (the live page in the browser).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/run" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DUCAP_BUILD_TESTS=OFF -DUCAP_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build/run" -j"$(nproc)" --target ucap_tool
if [ $# -eq 0 ]; then
  set -- snap -o "$root/build/run/snap.tif" --preview "$root/build/run/snap.png"
fi
exec "$root/build/run/tools/ucap" "$@"
