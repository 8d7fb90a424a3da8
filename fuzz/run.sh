#!/bin/bash
# Fuzzes every reader of untrusted bytes: builds the targets (fuzz/build.sh) and the seed corpus
# (fuzz/make_seeds.sh) when missing, then runs each target with libFuzzer for a time or a number
# of inputs, starting with its seeds and with every input of earlier findings (fuzz/regressions/,
# given to every target). Inputs that add coverage collect in <build>/corpus/TARGET; a crash,
# leak, timeout, input slower than 10 s or excess memory is written to <build>/findings/TARGET/
# and fails the run.
#
#   fuzz/run.sh --seconds 60           the CI run: the service target half the time, the other
#                                      three a sixth each
#   fuzz/run.sh --runs 1000000         the long run: that many inputs for each target
#   fuzz/run.sh --target NAME ...      that target alone (repeatable): avi_service_fuzz,
#                                      avi_sound_fuzz, avi_checks_fuzz, wave_image_fuzz
#   fuzz/run.sh ... --jobs 2           that many fuzzing processes per target sharing its
#                                      corpus, each with its share of the runs
#   fuzz/run.sh --replay FILE...       runs each target once on each file (a finding, a clip)
# Logs: <build>/fuzz-logs/TARGET/fuzz-N.log with --jobs, else the console.
# Environment: BUILD_DIR (default build-fuzz/); FUZZ_TIMEOUT and FUZZ_SLOW (default 20 and 10 s),
# the wall-clock limits of one input, for a machine so shared that an input waits for a core
# most of its time (then replay what they report on a quiet one).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$root/build-fuzz}")
export BUILD_DIR=$build

timeout=${FUZZ_TIMEOUT:-20}
slow=${FUZZ_SLOW:-10}
all_targets=(avi_service_fuzz avi_sound_fuzz avi_checks_fuzz wave_image_fuzz)
targets=()
seconds=
runs=
jobs=1
replay=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --target) targets+=("$2"); shift 2 ;;
        --replay) shift; replay=("$@"); break ;;
        *) echo "usage: $0 [--target NAME]... --seconds N | --runs N [--jobs N] | --replay FILE..." >&2
           exit 2 ;;
    esac
done
[ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")

bin=$("$root/fuzz/build.sh")
if [ ${#replay[@]} -gt 0 ]; then
    for target in "${targets[@]}"; do
        "$bin/$target" -rss_limit_mb=2048 "${replay[@]}"
    done
    exit 0
fi
[ -n "$seconds$runs" ] || { echo "$0: give --seconds or --runs" >&2; exit 2; }

seeds=$build/seeds
if [ ! -d "$seeds/avi" ] || [ -z "$(ls -A "$seeds/avi")" ]; then
    "$root/fuzz/make_seeds.sh" --make-avi "$build/tests/make_test_avi" --out "$seeds"
fi

# The seeds each target starts from: WAVE images for the WAVE parser, AVI files for the rest.
seeds_for() {
    case "$1" in
        wave_image_fuzz) echo "$seeds/wave" ;;
        *) echo "$seeds/avi" ;;
    esac
}

# The share of --seconds a target gets: the whole-service target is the slowest by far.
seconds_for() {
    if [ ${#targets[@]} = 1 ]; then
        echo "$seconds"
    elif [ "$1" = avi_service_fuzz ]; then
        echo $(( seconds / 2 ))
    else
        echo $(( (seconds + 5) / 6 ))
    fi
}

status=0
summary=()
for target in "${targets[@]}"; do
    fuzzer=$bin/$target
    corpus=$build/corpus/$target
    findings=$build/findings/$target
    logs=$build/fuzz-logs/$target
    mkdir -p "$corpus" "$findings" "$logs"
    # Seeds stay small, and so do the inputs; a single input gets FUZZ_TIMEOUT and 2 GB.
    options=(-max_len=65536 -timeout="$timeout" -report_slow_units="$slow" -rss_limit_mb=2048
             -artifact_prefix="$findings/" -print_final_stats=1)
    [ -n "$seconds" ] && options+=(-max_total_time="$(seconds_for "$target")")
    target_runs=$runs
    if [ "$jobs" -gt 1 ]; then
        # Independent processes rather than libFuzzer's fork mode, whose short-lived jobs spend
        # much of their time starting and loading the corpus.
        options+=(-jobs="$jobs" -workers="$jobs")
        [ -n "$runs" ] && target_runs=$(( (runs + jobs - 1) / jobs ))
    fi
    if [ -n "$runs" ]; then
        # Inputs that start the frame cache's worker thread trigger a leak check after them,
        # whose cost grows with the heap: a long run checks for leaks once per corpus input at
        # the end.
        options+=(-runs="$target_runs" -detect_leaks=0)
    fi

    started=$(date +%s)
    marker=$(mktemp)
    target_status=0
    (cd "$logs" && rm -f fuzz-*.log &&
        "$fuzzer" "${options[@]}" "$corpus" "$(seeds_for "$target")" "$root/fuzz/regressions") ||
        target_status=$?
    if [ $target_status = 0 ] && [ -n "$runs" ]; then
        "$fuzzer" -runs=0 -rss_limit_mb=2048 -timeout="$timeout" -artifact_prefix="$findings/" "$corpus" ||
            target_status=$?
    fi
    for log in "$logs"/fuzz-*.log; do
        [ -f "$log" ] && echo "$log: $(grep -h '^stat::number_of_executed_units' "$log")"
    done
    found=$(find "$findings" -type f -newer "$marker")
    rm -f "$marker"
    if [ -n "$found" ]; then
        echo "fuzz/run.sh: $target: findings:" >&2
        ls -l $found >&2
        target_status=1
    fi
    summary+=("$target: status $target_status after $(( $(date +%s) - started )) s; corpus $(ls "$corpus" | wc -l) inputs")
    [ $target_status = 0 ] || status=$target_status
done
for line in "${summary[@]}"; do
    echo "fuzz/run.sh: $line"
done
exit $status
