#!/usr/bin/env bash
# Installs what building and testing ucap needs on a fresh Debian machine, in two groups:
#   build   the library, the ucap tool (with `ucap serve`), the GStreamer element, the
#           benchmarks, the reference, the manual page and the Python package's tests
#   tests   what only the later test stages use: clang and its runtimes (fuzz targets),
#           clang-format, GStreamer's runtime and OpenCV (the element's pipelines), chromium
#           (the live page), MinGW-w64 and Wine (the Windows stage)
# With no argument it installs both. scripts/test.sh installs the second group in the
# background while the first build compiles: on a fresh machine the downloads take minutes.
set -euo pipefail
build=(cmake ninja-build ccache g++ make libgtest-dev libbenchmark-dev libtiff-dev libcli11-dev binutils
       libopencv-imgproc-dev   # OpenCV: the benchmark's baseline only
       libpng-dev zlib1g-dev pkg-config  # the ucap tool's image and calibration files; ucap.pc
       doxygen                 # the HTML reference (the docs target)
       help2man dpkg-dev       # the tool's manual page, from its help; the Debian package's dependencies
       python3 python3-numpy python3-pytest python3-tifffile  # the Python package and its tests
       libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev  # the GStreamer plugin (gst/)
       libcpp-httplib-dev nlohmann-json3-dev libturbojpeg0-dev)  # `ucap serve`: HTTP, JSON, JPEG
tests=(clang libclang-rt-dev   # clang and its runtimes (libFuzzer, sanitizers): the fuzz targets
       clang-format            # scripts/format.sh
       gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good  # the element's pipelines
       python3-gi gir1.2-gstreamer-1.0 python3-opencv  # ... and its tests
       chromium chromium-driver python3-selenium  # the live page's browser tests
       g++-mingw-w64-x86-64-posix wine wine64 googletest libz-mingw-w64-dev  # the Windows stage ...
       zip unzip)              # ... and its zip
case "${1:-all}" in
  build) need=("${build[@]}") ;;
  tests) need=("${tests[@]}") ;;
  all) need=("${build[@]}" "${tests[@]}") ;;
  *) echo "usage: $0 [build|tests|all]" >&2; exit 2 ;;
esac
missing=()
for p in "${need[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  apt=(apt-get -o DPkg::Lock::Timeout=600)
  $SUDO "${apt[@]}" update -qq
  $SUDO "${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
fi
