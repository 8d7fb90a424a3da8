#!/bin/bash
# Builds the libFuzzer targets (fuzz/*_fuzz.cpp) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz/ (or $BUILD_DIR), and the test-clip writer the seeds
# come from. Prints the folder holding the targets.
#   fuzz/build.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt" "$root/tools/fuzz-packages.txt" >&2
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DAVISTEP_FUZZ=ON -DAVISTEP_SANITIZE=address -DBUILD_TESTING=ON >&2
fi
targets=()
for source in "$root"/fuzz/*_fuzz.cpp; do
    targets+=("$(basename "$source" .cpp)")
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}" make_test_avi >&2
echo "$build/fuzz"
