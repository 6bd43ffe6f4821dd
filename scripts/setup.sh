#!/usr/bin/env bash
# Installs what building and testing ucap needs on a fresh Debian machine.
set -euo pipefail
# OpenCV: the benchmark's baseline only; clang and its runtimes (libFuzzer, sanitizers):
# the fuzz targets.
need=(cmake ninja-build g++ make libgtest-dev libbenchmark-dev libtiff-dev libcli11-dev binutils
      libopencv-imgproc-dev clang libclang-rt-dev)
missing=()
for p in "${need[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
