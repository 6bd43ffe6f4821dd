#!/usr/bin/env bash
# Installs what building and testing ucap needs on a fresh Debian machine.
set -euo pipefail
need=(cmake ninja-build g++ make libgtest-dev libbenchmark-dev libtiff-dev libcli11-dev binutils
      libopencv-imgproc-dev   # OpenCV: the benchmark's baseline only
      clang libclang-rt-dev   # clang and its runtimes (libFuzzer, sanitizers): the fuzz targets
      clang-format            # scripts/format.sh
      libpng-dev zlib1g-dev pkg-config  # the ucap tool's image and calibration files; ucap.pc
      python3 python3-numpy python3-pytest python3-tifffile)  # the Python package and its tests
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
