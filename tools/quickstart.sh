#!/bin/bash
# From a fresh Debian 12 checkout to a running avistep: installs the missing packages (with sudo
# when not root), builds build/avistep and starts it in samples/, where sample.avi waits.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt"
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" -j "$(nproc)" --target avistep

cd "$root/samples"
exec "$build/avistep"
