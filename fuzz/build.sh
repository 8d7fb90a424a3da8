#!/bin/bash
# Builds the libFuzzer target over the AVI file service with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz/ (or $BUILD_DIR). Prints the target's path.
#   fuzz/build.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt" "$root/tools/fuzz-packages.txt" >&2
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DAVISTEP_FUZZ=ON -DAVISTEP_SANITIZE=address -DBUILD_TESTING=ON >&2
fi
cmake --build "$build" -j "$(nproc)" --target avi_service_fuzz make_test_avi >&2
echo "$build/fuzz/avi_service_fuzz"
