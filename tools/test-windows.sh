#!/bin/bash
# Builds both Windows programs (build-win32/avistep.exe, build-win64/avistep.exe) and runs the
# smoke test of the 64-bit one under Wine, next to the Linux build's output on the same clip,
# then the damaged-file runs and the runs against the Linux build's.
# Installs the MinGW-w64 and Wine packages and the Japanese locale (code page 932) first.
#   tools/test-windows.sh            (the Linux build in build/ is made if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt" "$root/tools/test-packages.txt" \
    "$root/tools/windows-packages.txt"
if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
    $sudo locale-gen >/dev/null
fi

"$root/tools/build-windows.sh"
# The zip holds both programs, the text on running them, the licence and the changelog.
zip_files=$(cmake -E tar tf "$root"/build-windows/avistep-*-windows.zip | grep -v '/$' |
    sed 's|^[^/]*/||' | sort | tr '\n' ' ')
[ "$zip_files" = "LICENSE.txt NEWS.txt README.txt win32/avistep.exe win64/avistep.exe " ] ||
    { echo "test-windows: unexpected files in the zip: $zip_files" >&2; exit 1; }
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j 2 --target avistep make_test_avi
/usr/bin/python3 "$root/tests/wine/smoke.py" --build "$root/build-win64" \
    --make-avi "$build/tests/make_test_avi" --linux-avistep "$build/avistep"
# Damaged files: every run ends at "quit?" with status 0 (a subset; --all for every case).
/usr/bin/python3 "$root/tests/wine/bad_files.py" --build "$root/build-win64" \
    --make-avi "$build/tests/make_test_avi"
# What the Linux build plays: a cut clip, long paths, a key into the video window.
/usr/bin/python3 "$root/tests/wine/like_linux.py" --build "$root/build-win64" \
    --make-avi "$build/tests/make_test_avi" --linux-avistep "$build/avistep"
