#!/bin/sh
# Cross-builds the Windows program with MinGW-w64: build-win32/avistep.exe (i686, the target)
# and build-win64/avistep.exe (x86_64, the one Wine runs here), plus the backend checks, and
# packs both programs with a short text on running them, the licence and the changelog into
# build-windows/avistep-<version>-windows.zip.
# Needs the Debian packages g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64 and cmake.
set -eu
source_dir=$(cd "$(dirname "$0")/.." && pwd)
jobs=${JOBS:-2}
for arch in i686:build-win32 x86_64:build-win64; do
    toolchain=${arch%%:*}
    build_dir=$source_dir/${arch#*:}
    cmake -S "$source_dir" -B "$build_dir" \
        -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-$toolchain.cmake" \
        -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo}
    cmake --build "$build_dir" -j "$jobs"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$source_dir/build-win64/CMakeCache.txt")
stage=$source_dir/build-windows/avistep-$version-windows
rm -rf "$stage" && mkdir -p "$stage/win32" "$stage/win64"
cp "$source_dir/build-win32/avistep.exe" "$stage/win32/"
cp "$source_dir/build-win64/avistep.exe" "$stage/win64/"
# Windows' Notepad before 2018 wants CR LF line ends.
sed 's/$/\r/' "$source_dir/docs/windows-readme.txt" >"$stage/README.txt"
sed 's/$/\r/' "$source_dir/LICENSE" >"$stage/LICENSE.txt"
sed 's/$/\r/' "$source_dir/NEWS.md" >"$stage/NEWS.txt"
rm -f "$stage.zip"
(cd "$source_dir/build-windows" && cmake -E tar cf "$stage.zip" --format=zip "$(basename "$stage")")
echo "build-windows.sh: $stage.zip"
