#!/usr/bin/env bash
# The ucap tool's libraries built for Windows x64 with MinGW-w64, once, into
# build/windows-deps/prefix (a second run finds them there and builds nothing): libtiff and
# libpng from Debian's source packages (static, no codecs beyond what the tool writes:
# uncompressed TIFF, PNG), zlib from Debian's libz-mingw-w64-dev, CLI11's headers.
# Prints the prefix.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deps=$root/build/windows-deps
prefix=$deps/prefix
jobs=${JOBS:-$(nproc)}
[ -f "$prefix/.complete" ] && { echo "$prefix"; exit 0; }

# Debian's sources through a deb-src list of our own: the system's apt set-up stays as it is.
apt_src=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$deps/apt"
         -o Dir::State::Lists="$deps/apt/lists" -o Dir::Cache="$deps/apt/cache")
fetch() {  # source package -> its unpacked folder under $deps/src
  if ! ls -d "$deps/src/$1"-*/ >/dev/null 2>&1; then
    if [ ! -d "$deps/apt/lists/partial" ]; then
      mkdir -p "$deps/apt/lists/partial" "$deps/apt/cache"
      # The main archive's stanza only (the security archive's source files are not mirrored).
      awk '/^$/ { exit } { sub(/^Types: deb$/, "Types: deb-src"); print }' \
        /etc/apt/sources.list.d/debian.sources > "$deps/apt/deb-src.sources"
      apt-get "${apt_src[@]}" update -qq >&2
    fi
    mkdir -p "$deps/src"
    (cd "$deps/src" && apt-get "${apt_src[@]}" source -qq "$1" >/dev/null 2>&1)
  fi
  ls -d "$deps/src/$1"-*/ | head -1
}
build() {  # name, source folder, cmake options...
  local name=$1 source=$2; shift 2
  cmake -S "$source" -B "$deps/build/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF "$@" >/dev/null
  cmake --build "$deps/build/$name" -j"$jobs" >/dev/null
  cmake --install "$deps/build/$name" >/dev/null
}

build tiff "$(fetch tiff)" -Dtiff-tools=OFF -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dcxx=OFF \
  -Dzlib=OFF -Dlibdeflate=OFF -Dpixarlog=OFF -Djpeg=OFF -Dold-jpeg=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF \
  -Dzstd=OFF -Dwebp=OFF
build png "$(fetch libpng1.6)" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF
# CLI11 is headers only: its headers and CMake package under the prefix.
mkdir -p "$prefix/include" "$prefix/share/cmake"
cp -r /usr/include/CLI "$prefix/include/"
cp -r /usr/share/cmake/CLI11 "$prefix/share/cmake/"
touch "$prefix/.complete"
echo "$prefix"
