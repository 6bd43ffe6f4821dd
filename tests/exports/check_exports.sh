#!/bin/sh
# Compares the dynamic symbols a built library exports with the expected names: every
# expected name present, nothing else but the names matching <also allowed> (default: the
# virtual camera's ucap_vcam_* surface; '^$' allows nothing else).
# usage: check_exports.sh <library> <expected names file> [nm command] [also allowed]
set -eu
lib=$1
expected=$2
nm=${3:-nm}
allowed=${4:-^ucap_vcam_}
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
case "$lib" in
  *.dll) # the export table of a PE file
    ${nm} -p "$lib" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[[:space:]]*\[/{print $NF} t&&/^$/{t=0}' \
      | grep -v '^DllMain$' | sort -u >"$actual" ;;
  *) ${nm} -D --defined-only "$lib" | awk '$2 ~ /^[TWi]$/ {print $3}' | sort -u >"$actual" ;;
esac
status=0
missing=$(grep -vxF -f "$actual" "$expected" || true)
if [ -n "$missing" ]; then echo "missing exports:"; echo "$missing"; status=1; fi
extra=$(grep -vxF -f "$expected" "$actual" | grep -v "$allowed" || true)
if [ -n "$extra" ]; then echo "unexpected exports:"; echo "$extra"; status=1; fi
[ $status -eq 0 ] && echo "exports: $(wc -l <"$actual") names, as expected"
exit $status
