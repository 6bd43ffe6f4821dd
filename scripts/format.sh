#!/usr/bin/env bash
# Formats the C and C++ sources of the tree with clang-format and the committed .clang-format.
#   scripts/format.sh          rewrites the files in place
#   scripts/format.sh --check  changes nothing; lists the files that are not formatted and
#                              exits 1 if there is one
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
format=${CLANG_FORMAT:-clang-format}
command -v "$format" >/dev/null || { echo "format.sh: $format not found (scripts/setup.sh installs it)" >&2; exit 2; }
cd "$root"
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' | grep -v -e '^fuzz/corpus/' -e '/vendor/')
if [ "${1:-}" = "--check" ]; then
  bad=0
  for f in "${files[@]}"; do
    if ! "$format" --style=file "$f" | cmp -s - "$f"; then
      echo "$f"
      bad=1
    fi
  done
  exit $bad
fi
"$format" --style=file -i "${files[@]}"
