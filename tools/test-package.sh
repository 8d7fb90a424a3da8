#!/bin/bash
# Builds the Debian package from the build folder, checks what it declares, unpacks it into a
# scratch root and plays the bundled sample clip with the installed program.
#   tools/test-package.sh            Environment: BUILD_DIR (default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt" "$root/tools/test-packages.txt" \
    "$root/tools/package-packages.txt"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j 2 --target avistep make_test_avi
rm -f "$build"/avistep_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/avistep_*.deb)
echo "test-package: $(basename "$deb")"

fail() { echo "test-package: $*" >&2; exit 1; }
# The libraries it runs on, as dpkg-shlibdeps found them in the binary.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libavformat libavcodec libswscale libsdl2 libgtk-3; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
# Exactly the program and its manual page.
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
[ "$files" = "./usr/bin/avistep ./usr/share/man/man1/avistep.1 " ] || fail "unexpected files: $files"
# Every dependency can be had from the archive the machine knows.
apt-get install --simulate -q "$deb" >/dev/null 2>&1 || fail "apt-get cannot install $deb"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch"
"$root/tools/lint-manpage.sh" "$scratch/usr/share/man/man1/avistep.1"
# Its transcript and stderr are kept in build/tests/package/blackbox-artifacts/.
mkdir -p "$build/tests/package"
(cd "$build/tests/package" &&
    /usr/bin/python3 "$root/tests/blackbox/test_sample_clip.py" --avistep "$scratch/usr/bin/avistep" \
        --make-avi "$build/tests/make_test_avi" --source "$root")
echo "test-package: the installed program played the sample clip"
