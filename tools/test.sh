#!/bin/bash
# Runs the whole test suite: the core and backend unit tests and the black-box tests of the real
# program. Installs the missing packages first and configures and builds the tests as needed.
# Tests that need an X display get one: this script starts a virtual display for the unit tests,
# and every black-box test starts an Xvfb of its own.
#
#   tools/test.sh [ctest options...]       e.g. tools/test.sh -R blackbox
# Environment: BUILD_DIR (default build/), TEST_JOBS (parallel tests, default 2).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
jobs=${TEST_JOBS:-2}

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt" "$root/tools/test-packages.txt"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" -j "$(nproc)"

# One virtual display for the whole run, on a number the server picks itself (-displayfd), so
# parallel runs and a desktop's own display never clash.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; rm -f "$display_file"' EXIT
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        echo "test.sh: Xvfb did not start" >&2
        exit 1
    fi
    sleep 0.1
done
DISPLAY=":$(head -n1 "$display_file")"
export DISPLAY
echo "test.sh: virtual display $DISPLAY"

ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@"
