#!/bin/bash
# Builds the libFuzzer target over the AVI file service with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer, in build-fuzz/ (or $BUILD_DIR). Prints the target's path.
#   fuzz/build.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build-fuzz}

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a \
        >/dev/null 2>&1; then
    echo "fuzz/build.sh: installing clang and its runtime libraries" >&2
    apt-get install -y clang libclang-rt-dev >&2
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DAVISTEP_FUZZ=ON -DAVISTEP_SANITIZE=address -DBUILD_TESTING=ON >&2
fi
cmake --build "$build" -j "$(nproc)" --target avi_service_fuzz make_test_avi >&2
echo "$build/fuzz/avi_service_fuzz"
