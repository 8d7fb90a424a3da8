#!/bin/bash
# Fuzzes the AVI file service: builds the target (fuzz/build.sh) and the seed corpus
# (fuzz/make_seeds.sh) when missing, then runs libFuzzer for a time or a number of inputs,
# starting with the seeds and the inputs of earlier findings (fuzz/regressions/). Inputs that add
# coverage collect in <build>/corpus; a crash, leak, timeout, input slower than 10 s or excess
# memory is written to <build>/findings/ and fails the run.
#
#   fuzz/run.sh --seconds 60           the CI run
#   fuzz/run.sh --runs 1000000         the long run (see docs/robustness.md for its time)
#   fuzz/run.sh ... --jobs 2           that many fuzzing processes sharing the corpus, each with
#                                      its share of the runs; logs in <build>/fuzz-N.log
#   fuzz/run.sh --replay FILE...       runs the target once on each file (a finding, a clip)
# Environment: BUILD_DIR (default build-fuzz/).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${BUILD_DIR:-$root/build-fuzz}")
export BUILD_DIR=$build

seconds=
runs=
jobs=1
replay=()
while [ $# -gt 0 ]; do
    case "$1" in
        --seconds) seconds=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --jobs) jobs=$2; shift 2 ;;
        --replay) shift; replay=("$@"); break ;;
        *) echo "usage: $0 --seconds N | --runs N [--jobs N] | --replay FILE..." >&2; exit 2 ;;
    esac
done

fuzzer=$("$root/fuzz/build.sh")
if [ ${#replay[@]} -gt 0 ]; then
    exec "$fuzzer" -rss_limit_mb=2048 "${replay[@]}"
fi
[ -n "$seconds$runs" ] || { echo "$0: give --seconds or --runs" >&2; exit 2; }

seeds=$build/seeds
corpus=$build/corpus
findings=$build/findings
if [ ! -d "$seeds" ] || [ -z "$(ls -A "$seeds")" ]; then
    "$root/fuzz/make_seeds.sh" --make-avi "$build/tests/make_test_avi" --out "$seeds"
fi
mkdir -p "$corpus" "$findings"

# Seeds stay small, and so do the inputs; a single input gets 20 s and 2 GB.
options=(-max_len=65536 -timeout=20 -rss_limit_mb=2048 -artifact_prefix="$findings/"
         -print_final_stats=1)
[ -n "$seconds" ] && options+=(-max_total_time="$seconds")
if [ "$jobs" -gt 1 ]; then
    # Independent processes rather than libFuzzer's fork mode, whose short-lived jobs spend
    # much of their time starting and loading the corpus.
    options+=(-jobs="$jobs" -workers="$jobs")
    [ -n "$runs" ] && runs=$(( (runs + jobs - 1) / jobs ))
fi
if [ -n "$runs" ]; then
    # Inputs that start the frame cache's worker thread trigger a leak check after them, whose
    # cost grows with the heap: a long run checks for leaks once per corpus input at the end.
    options+=(-runs="$runs" -detect_leaks=0)
fi

started=$(date +%s)
marker=$(mktemp)
trap 'rm -f "$marker"' EXIT
status=0
cd "$build"
rm -f fuzz-*.log
"$fuzzer" "${options[@]}" "$corpus" "$seeds" "$root/fuzz/regressions" || status=$?
if [ $status = 0 ] && [ -n "$runs" ]; then
    "$fuzzer" -runs=0 -rss_limit_mb=2048 -timeout=20 -artifact_prefix="$findings/" "$corpus" ||
        status=$?
fi
for log in fuzz-*.log; do
    [ -f "$log" ] && echo "$log: $(grep -h '^stat::number_of_executed_units' "$log")"
done
echo "fuzz/run.sh: status $status after $(( $(date +%s) - started )) s;" \
     "corpus $(ls "$corpus" | wc -l) inputs"
found=$(find "$findings" -type f -newer "$marker")
if [ -n "$found" ]; then
    echo "fuzz/run.sh: findings:" >&2
    ls -l $found >&2
    exit 1
fi
exit $status
