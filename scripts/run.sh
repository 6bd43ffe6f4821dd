#!/usr/bin/env bash
# The main job: builds the library, its command-line tool (and GStreamer plugin), then takes a
# picture with the default virtual camera: build/run/snap.ome.tif (16-bit OME-TIFF) and build/run/snap.png (8-bit
# preview). Arguments, if any, go to the tool instead (see `scripts/run.sh --help`), e.g.
# `scripts/run.sh info`, `scripts/run.sh snap -o my.ome.tif --exposure 2s` or `scripts/run.sh serve`
# (the live page in the browser).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh" build
cmake -S "$root" -B "$root/build/run" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DUCAP_BUILD_TESTS=OFF -DUCAP_BUILD_BENCH=OFF >/dev/null
targets=(ucap_tool)
# The GStreamer plugin too where it is configured (GST_PLUGIN_PATH=build/run/gst).
grep -q '^UCAP_BUILD_GST:BOOL=ON' "$root/build/run/CMakeCache.txt" && targets+=(gstucap)
cmake --build "$root/build/run" -j"$(nproc)" --target "${targets[@]}"
if [ $# -eq 0 ]; then
  set -- snap -o "$root/build/run/snap.ome.tif" --preview "$root/build/run/snap.png"
fi
exec "$root/build/run/tools/ucap" "$@"
