#!/bin/bash
# Builds avistep, its unit tests and its black-box tests with the sanitizers, runs them all, and
# fails on any sanitizer report, even one from a process whose exit status a test ignores:
#   build-asan/  AddressSanitizer with LeakSanitizer, and UndefinedBehaviorSanitizer
#   build-tsan/  ThreadSanitizer (the main thread and the display thread)
#
#   tools/sanitize.sh [address|thread|all] [ctest options...]     default: all
# Environment: ASAN_BUILD_DIR, TSAN_BUILD_DIR (default build-asan/, build-tsan/), TEST_JOBS
# (parallel tests, default 1: the instrumented programs are slow enough that two at once on a
# small machine miss the time the black-box tests and the sound tests allow). Reports are kept in
# <build>/sanitizer-reports/.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
which=${1:-all}
[ $# -gt 0 ] && shift
case "$which" in
    address | thread | all) ;;
    *) echo "usage: $0 [address|thread|all] [ctest options...]" >&2; exit 2 ;;
esac
jobs=${TEST_JOBS:-1}
suppressions=$root/tests/sanitizers

"$root/tools/install_packages.sh" "$root/tools/build-packages.txt" "$root/tools/test-packages.txt"

# One virtual display for the unit tests, as tools/test.sh does; the black-box tests start their own.
display_file=$(mktemp)
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
xvfb_pid=$!
trap 'kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null; rm -f "$display_file"' EXIT
for _ in $(seq 100); do
    [ -s "$display_file" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { echo "sanitize.sh: Xvfb did not start" >&2; exit 1; }
    sleep 0.1
done
export DISPLAY=":$(head -n1 "$display_file")"

# The program's own crash handling (the terminal comes back) is what runs on a crash signal; the
# sanitizers catch bad accesses before they fault.
no_signal_handlers=handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0

run() {
    local kind=$1 build=$2
    shift 2
    local reports=$build/sanitizer-reports
    local started=$(date +%s)
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DAVISTEP_SANITIZE="$kind"
    fi
    cmake --build "$build" -j "$(nproc)"
    rm -rf "$reports"
    find "$build" -name '*.stderr.txt' -path '*blackbox-artifacts*' -delete
    mkdir -p "$reports"

    local status=0
    if [ "$kind" = address ]; then
        # Whole allocation stacks (not the fast frame-pointer walk, which stops inside the
        # libraries built without frame pointers) so that suppressions see the library frames.
        ASAN_OPTIONS=log_path=$reports/asan:detect_leaks=1:fast_unwind_on_malloc=0:$no_signal_handlers \
        LSAN_OPTIONS=suppressions=$suppressions/lsan.supp:print_suppressions=0 \
        UBSAN_OPTIONS=log_path=$reports/ubsan:print_stacktrace=1:halt_on_error=1 \
            ctest --test-dir "$build" --output-on-failure -j "$jobs" "$@" || status=$?
    else
        # ThreadSanitizer runs signal handlers late, at its own safe points: a stop signal's
        # handler cannot hand the terminal back before the process stops, so the job-control
        # test is left to the other builds.
        TSAN_OPTIONS=log_path=$reports/tsan:suppressions=$suppressions/tsan.supp:$no_signal_handlers:second_deadlock_stack=1 \
            ctest --test-dir "$build" --output-on-failure -j "$jobs" \
            -E 'ConsoleTty.StoppedProgramHandsTheTerminalBack' "$@" || status=$?
    fi

    # Undefined behaviour stops the process and writes to its standard error, which the
    # black-box tests keep among their artifacts: looked at too, for processes whose exit status
    # no test examines.
    local found
    found=$( (find "$reports" -type f
              grep -rl --include='*.stderr.txt' "runtime error:" "$build" 2>/dev/null || true) | sort)
    if [ -n "$found" ]; then
        for report in $found; do
            echo "==== $report"
            cat "$report"
        done
        echo "sanitize.sh: $kind: $(echo "$found" | wc -l) sanitizer report(s)" >&2
        status=1
    fi
    echo "sanitize.sh: $kind: $([ $status = 0 ] && echo clean || echo FAILED) after $(( $(date +%s) - started )) s"
    return $status
}

result=0
if [ "$which" != thread ]; then
    run address "${ASAN_BUILD_DIR:-$root/build-asan}" "$@" || result=1
fi
if [ "$which" != address ]; then
    run thread "${TSAN_BUILD_DIR:-$root/build-tsan}" "$@" || result=1
fi
exit $result
