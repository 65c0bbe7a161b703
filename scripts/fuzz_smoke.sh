#!/usr/bin/env bash
# A short smoke run of every fuzz target: builds them with clang under AddressSanitizer and
# UndefinedBehaviorSanitizer and runs each for a few seconds from a fresh seed corpus.
# Longer campaigns that keep their corpora: ./scripts/fuzz_campaign.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH="${FUZZ_SECONDS:-4}"

if ! command -v clang++ >/dev/null; then
  echo "fuzz smoke: clang++ not found (scripts/setup.sh installs it)" >&2
  exit 1
fi

CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
targets=()
for f in fuzz/*_fuzz.cpp; do
  targets+=("$(basename "$f" .cpp)")
done
cmake --build build-fuzz --target "${targets[@]}"

corpus="$(mktemp -d)"
trap 'rm -rf "$corpus"' EXIT
python3 fuzz/make_corpus.py "$corpus" >/dev/null
for t in "${targets[@]}"; do
  mkdir -p "$corpus/$t"
  echo "fuzz smoke: $t (${SECONDS_EACH} s)"
  ./build-fuzz/fuzz/"$t" -max_total_time="$SECONDS_EACH" -rss_limit_mb=2048 -print_final_stats=0 \
    "$corpus/$t" >"$corpus/$t.log" 2>&1 || { tail -40 "$corpus/$t.log"; echo "fuzz smoke: $t FAILED"; exit 1; }
done
echo "fuzz smoke: all targets ran clean"
