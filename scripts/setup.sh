#!/usr/bin/env bash
# Installs what building and testing ucap needs on a fresh Debian machine.
set -euo pipefail
need=(cmake ninja-build ccache g++ make libgtest-dev libbenchmark-dev libtiff-dev libcli11-dev binutils
      libopencv-imgproc-dev   # OpenCV: the benchmark's baseline only
      clang libclang-rt-dev   # clang and its runtimes (libFuzzer, sanitizers): the fuzz targets
      clang-format            # scripts/format.sh
      libpng-dev zlib1g-dev pkg-config  # the ucap tool's image and calibration files; ucap.pc
      doxygen                 # the HTML reference (the docs target)
      help2man dpkg-dev       # the tool's manual page, from its help; the Debian package's dependencies
      python3 python3-numpy python3-pytest python3-tifffile  # the Python package and its tests
      libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev  # the GStreamer plugin (gst/) ...
      gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good  # ... its pipelines
      python3-gi gir1.2-gstreamer-1.0 python3-opencv  # ... and its tests
      libcpp-httplib-dev nlohmann-json3-dev libturbojpeg0-dev  # `ucap serve`: HTTP, JSON, JPEG
      chromium chromium-driver python3-selenium)  # the live page's browser tests
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
