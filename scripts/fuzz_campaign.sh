#!/usr/bin/env bash
# A fuzzing campaign: every fuzz target in turn for SECONDS each, under AddressSanitizer and
# UndefinedBehaviorSanitizer, keeping what each one learns.
#   ./scripts/fuzz_campaign.sh SECONDS [target...]
# Corpora grow in build-fuzz/corpus/<target>/ (or $ZB_FUZZ_CORPUS/<target>/), outside version control,
# and the next campaign goes on from them. Each run also starts from the seeds of fuzz/make_corpus.py
# (including the hand-made ones in fuzz/seeds/<target>/). Inputs that fail go to
# build-fuzz/findings/<target>-crash-..., and the campaign then ends with status 1.
# Ends with one line per target: executions, executions per second, corpus size.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
    echo "usage: $0 SECONDS [target...]" >&2
    exit 2
fi
seconds="$1"
shift
if ! command -v clang++ >/dev/null; then
    echo "fuzz campaign: clang++ not found (scripts/setup.sh installs it)" >&2
    exit 1
fi

targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then
    for f in fuzz/*_fuzz.cpp; do
        targets+=("$(basename "$f" .cpp)")
    done
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz --target "${targets[@]}"

corpora="${ZB_FUZZ_CORPUS:-build-fuzz/corpus}"
findings=build-fuzz/findings
mkdir -p "$corpora" "$findings"
seeds="$(mktemp -d)"
logs="$(mktemp -d)"
trap 'rm -rf "$seeds" "$logs"' EXIT
python3 fuzz/make_corpus.py "$seeds" >/dev/null

status=0
summary=()
for t in "${targets[@]}"; do
    mkdir -p "$corpora/$t" "$seeds/$t"
    echo "fuzz campaign: $t (${seconds} s)"
    # New inputs are written to the first folder (the kept corpus); the seeds are read only.
    if ! ./build-fuzz/fuzz/"$t" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=25 -print_final_stats=1 \
        -artifact_prefix="$findings/$t-" "$corpora/$t" "$seeds/$t" >"$logs/$t.log" 2>&1; then
        tail -40 "$logs/$t.log"
        echo "fuzz campaign: $t FOUND A FAULT (input in $findings/)"
        status=1
    fi
    runs="$(awk '/stat::number_of_executed_units/ {print $2}' "$logs/$t.log")"
    rate="$(awk '/stat::average_exec_per_sec/ {print $2}' "$logs/$t.log")"
    summary+=("$(printf '%-24s %12s runs %8s exec/s %6s inputs kept' "$t" "${runs:-?}" "${rate:-?}" \
        "$(find "$corpora/$t" -type f | wc -l)")")
done
printf '%s\n' "${summary[@]}"
exit "$status"
