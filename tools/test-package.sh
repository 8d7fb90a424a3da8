#!/bin/bash
# Builds the Debian package from the build folder, checks what it declares and holds, runs
# lintian on it (no error and no warning), builds it again to check that it is reproducible,
# unpacks it into a scratch root and plays the bundled sample clip with the installed program.
#   tools/test-package.sh            Environment: BUILD_DIR (default build/)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt" "$root/tools/test-packages.txt" \
    "$root/tools/package-packages.txt"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
make_package() {
    cmake --build "$build" -j 2 --target avistep avistep_docs make_test_avi
    rm -f "$build"/avistep_*.deb
    (cd "$build" && cpack -G DEB >/dev/null)
}
make_package
deb=$(ls "$build"/avistep_*.deb)
echo "test-package: $(basename "$deb")"

fail() { echo "test-package: $*" >&2; exit 1; }
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# The libraries it runs on, as dpkg-shlibdeps found them in the binary.
depends=$(dpkg-deb -f "$deb" Depends)
for library in libavformat libavcodec libswscale libsdl2 libgtk-3; do
    grep -q "$library" <<<"$depends" || fail "Depends lacks $library: $depends"
done
# The program, its manual page, the copyright and licence notice, the changelog and the one
# lintian override.
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' ')
expected="./usr/bin/avistep ./usr/share/doc/avistep/changelog.gz ./usr/share/doc/avistep/copyright"
expected+=" ./usr/share/lintian/overrides/avistep ./usr/share/man/man1/avistep.1.gz "
[ "$files" = "$expected" ] || fail "unexpected files: $files"
# The changelog's newest entry is the package's version.
version=$(dpkg-deb -f "$deb" Version)
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/avistep/changelog.gz | gzip -d \
    >"$scratch/changelog"
[ "$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)" = "$version" ] ||
    fail "the changelog's newest version is not $version"
# A NEWS.md whose newest version is not the project's stops the build.
if cmake -DSOURCE_DIR="$root" -DOUT_DIR="$scratch" -DVERSION="0.$version" -DMAINTAINER=x \
        -P "$root/cmake/package_docs.cmake" >/dev/null 2>&1; then
    fail "package_docs.cmake took a version NEWS.md does not have"
fi
# Every dependency can be had from the archive the machine knows.
apt-get install --simulate -q "$deb" >/dev/null 2>&1 || fail "apt-get cannot install $deb"

# Debian's own checker: any error or warning fails. The maintainer's address, which has no
# public home yet, is the one thing overridden, in the package itself.
status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
[ "$status" -eq 0 ] || fail "lintian finds errors or warnings in $(basename "$deb")"
echo "test-package: lintian passes"

# Reproducible: linked and documented anew (new file times), the same commit packs to the same
# bytes, and every time inside is the last commit's.
cp "$deb" "$scratch/first.deb"
rm -f "$build/avistep" "$build/avistep.1" "$build/avistep.1.gz" "$build/changelog.gz"
make_package
cmp -s "$scratch/first.deb" "$deb" || fail "a second build of the package differs from the first"
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct)}
times=$(dpkg-deb --fsys-tarfile "$deb" | TZ=UTC tar -tv --full-time | awk '{print $4, $5}' | sort -u)
[ "$times" = "$(TZ=UTC date -d "@$epoch" '+%F %T')" ] || fail "file times other than $epoch: $times"
echo "test-package: a second build gives the same bytes"

dpkg-deb -x "$deb" "$scratch/root"
gzip -dc "$scratch/root/usr/share/man/man1/avistep.1.gz" >"$scratch/avistep.1"
"$root/tools/lint-manpage.sh" "$scratch/avistep.1"
# Its transcript and stderr are kept in build/tests/package/blackbox-artifacts/.
mkdir -p "$build/tests/package"
(cd "$build/tests/package" &&
    /usr/bin/python3 "$root/tests/blackbox/test_sample_clip.py" --avistep "$scratch/root/usr/bin/avistep" \
        --make-avi "$build/tests/make_test_avi" --source "$root")
echo "test-package: the installed program played the sample clip"
