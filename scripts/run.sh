#!/usr/bin/env bash
# The main job: builds the library and its command-line tool, then asks the default
# virtual camera what it is. Extra arguments go to the tool (see `ucap --help`).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build/run" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DUCAP_BUILD_TESTS=OFF -DUCAP_BUILD_BENCH=OFF >/dev/null
cmake --build "$root/build/run" -j"$(nproc)" --target ucap_tool
if [ $# -eq 0 ]; then set -- info; fi
exec "$root/build/run/tools/ucap" "$@"
