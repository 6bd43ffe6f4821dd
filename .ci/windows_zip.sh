#!/usr/bin/env bash
# The Windows x64 zip, ucap-<version>-win64.zip in build/windows-zip:
#   bin/      ucap.dll (the product: talks to the camera's 1394 driver) and ucap.exe (every command)
#   lib/      ucap.lib (import library for MSVC, made from ucap.def), libucap.dll.a (MinGW), ucap.def
#   vcam/     ucap.dll with the virtual camera (and its import libraries): put it beside
#             ucap.exe or an application to try them without the camera
#   include/  ucap/ucap.h, ucap/vcam.h;   examples/;   python/ucap (finds bin/ucap.dll)
#   doc/html/ the reference, when build/docs/html has been made (`--target docs`)
# then unpacks it and, under Wine with the virtual camera, runs `ucap.exe info` and `ucap.exe
# snap` and compares the picture's pixels with the Linux tool's.
# Called by .ci/windows.sh after its build (the virtual-camera DLL comes from there), with
# Wine set up.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
vcam_build=${UCAP_WINDOWS_BUILD:-$root/build/windows}
product=$root/build/windows-product
out=$root/build/windows-zip
jobs=${JOBS:-$(nproc)}
triple=x86_64-w64-mingw32

# ---- the product DLL and the tool, against the tool's libraries built for Windows ----------
# (zlib: the static library of libz-mingw-w64-dev, not its DLL's import library)
deps=$("$root/.ci/windows_deps.sh")
cmake -S "$root" -B "$product" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" \
  -DUCAP_WINDOWS_DEPS="$deps" -DZLIB_LIBRARY_RELEASE=/usr/$triple/lib/libz.a -DCMAKE_BUILD_TYPE=Release -DUCAP_WERROR=ON -DUCAP_WITH_VCAM=OFF \
  -DUCAP_BUILD_TESTS=OFF -DUCAP_BUILD_BENCH=OFF -DUCAP_BUILD_TOOLS=ON >/dev/null
cmake --build "$product" -j"$jobs"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$product/CMakeCache.txt")

# ---- the tree and the zip -------------------------------------------------------------------
name=ucap-$version-win64
tree=$out/$name
rm -rf "$out" && mkdir -p "$tree"/{bin,lib,vcam,include,python}
import_libs() {  # DLL folder, its import library, destination
  cp "$1/ucap.dll" "$1/ucap.def" "$3/"
  cp "$2" "$3/libucap.dll.a"
  "$triple-dlltool" -d "$1/ucap.def" -D ucap.dll -l "$3/ucap.lib"
}
cp "$product/bin/ucap.exe" "$tree/bin/"
import_libs "$product/bin" "$product/src/ucap.lib" "$tree/lib"
mv "$tree/lib/ucap.dll" "$tree/bin/"
import_libs "$vcam_build/bin" "$vcam_build/src/ucap.lib" "$tree/vcam"
cp -r "$root/include/ucap" "$tree/include/"
cp -r "$root/examples" "$tree/"
cp -r "$root/python/ucap" "$tree/python/"
find "$tree/python" -name __pycache__ -prune -exec rm -rf {} +
printf '# Where the library lies, relative to this folder.\nLIBRARY = "../../bin/ucap.dll"\n' \
  > "$tree/python/ucap/_installed.py"
if [ -d "$root/build/docs/html" ]; then
  mkdir -p "$tree/doc" && cp -r "$root/build/docs/html" "$tree/doc/"
else
  echo "-- no build/docs/html: the zip has no HTML reference"
fi
(cd "$out" && zip -qr "$name.zip" "$name")
echo "-- $out/$name.zip: $(du -k "$out/$name.zip" | cut -f1) KiB"

# ---- unpacked, under Wine with the virtual camera ------------------------------------------
check=$out/check
mkdir -p "$check" && (cd "$check" && unzip -q "../$name.zip")
for file in "$check/$name/bin/ucap.dll" "$check/$name/vcam/ucap.dll" "$check/$name/bin/ucap.exe"; do
  strings -el "$file" | grep -qx "$version" || { echo "$file: no version $version in its resource" >&2; exit 1; }
done
# ucap.exe needs no DLL but the system's and ucap.dll.
imports=$("$triple-objdump" -p "$check/$name/bin/ucap.exe" | sed -n 's/^\s*DLL Name: //p' | sort | tr '\n' ' ')
[ "$imports" = "KERNEL32.dll msvcrt.dll ucap.dll " ] || { echo "ucap.exe imports $imports" >&2; exit 1; }
try=$check/try
mkdir -p "$try"
cp "$check/$name/bin/ucap.exe" "$check/$name/vcam/ucap.dll" "$try/"
(cd "$try" && wine ucap.exe --version | tr -d '\r' | grep -qx "ucap $version")
(cd "$try" && wine ucap.exe info | tr -d '\r' | grep -q "^cameras: 1")
(cd "$try" && wine ucap.exe snap -o a.ome.tif >/dev/null)
linux_tool=${UCAP_LINUX_TOOL:-$root/build/ci/tools/ucap}
if [ -x "$linux_tool" ]; then
  "$linux_tool" snap -o "$check/linux.ome.tif" >/dev/null
  /usr/bin/python3 -c '
import sys, numpy, tifffile
windows, linux = (tifffile.imread(f) for f in sys.argv[1:])
assert windows.shape == linux.shape == (1936, 2584, 3) and numpy.array_equal(windows, linux), "pixels differ"
' "$try/a.ome.tif" "$check/linux.ome.tif"
  echo "-- ucap.exe under Wine: info, snap; its picture equals the Linux tool's"
else
  echo "-- SKIPPED the comparison with the Linux tool: no $linux_tool"
fi
