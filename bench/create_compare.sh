#!/usr/bin/env bash
# End-to-end comparison of archive creation: `zbk create` against Info-ZIP `zip -6 -r -q`, on the same
# files, in the same run, several repetitions taken in turns (so both see the same machine load).
#
#   bench/create_compare.sh [CORPUS] [REPETITIONS]
#
# CORPUS defaults to ../bench-corpus/corpus beside the project (made by ../shared/bench/make_corpus.sh);
# REPETITIONS to 3. ZBK names the tool (default build/tools/zbk). Both take every file below CORPUS:
# zip by -r, zbk by the pattern "*" with --recurse; zip adds one folder entry per folder, which costs a
# few hundred bytes, far below the 0.1% the sizes are compared at.
#
# Prints the median time of each, the speed ratio (zip time / zbk time; target >= 2.0), the archive size
# difference in % (target within 0.1%) and zbk's peak resident memory (/usr/bin/time; target <= 32 MB).
# Exit code 0 when the archives were made and zbk's passes `unzip -t`; the targets themselves only print.
set -euo pipefail

HERE="$(cd "$(dirname "$0")" && pwd)"
PROJECT="$(cd "$HERE/.." && pwd)"
CORPUS="$(cd "${1:-$PROJECT/../bench-corpus/corpus}" && pwd)"
REPS="${2:-3}"
ZBK="${ZBK:-$PROJECT/build/tools/zbk}"
TIME=/usr/bin/time

for tool in "$ZBK" zip unzip "$TIME"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT

# Runs a command under /usr/bin/time; appends "seconds peak_kb" to the given file.
measure() {
    local out="$1"; shift
    "$TIME" -f "%e %M" -o "$WORK/time" "$@" >/dev/null
    cat "$WORK/time" >> "$out"
}

median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "corpus: $CORPUS ($(du -sb "$CORPUS" | cut -f1) bytes in $(find "$CORPUS" -type f | wc -l) files), $REPS repetitions"
for ((i = 1; i <= REPS; i++)); do
    rm -f "$WORK/zbk.zip" "$WORK/zip.zip"
    measure "$WORK/zbk.times" "$ZBK" create "$WORK/zbk.zip" "$CORPUS" '*' --recurse --level 6
    (cd "$CORPUS" && measure "$WORK/zip.times" zip -6 -r -q "$WORK/zip.zip" .)
    printf '  run %d: zbk %ss, zip %ss\n' "$i" "$(tail -1 "$WORK/zbk.times" | cut -d' ' -f1)" \
        "$(tail -1 "$WORK/zip.times" | cut -d' ' -f1)"
done

unzip -tqq "$WORK/zbk.zip" || { echo "zbk's archive fails unzip -t" >&2; exit 1; }

zbk_time="$(cut -d' ' -f1 "$WORK/zbk.times" | median)"
zip_time="$(cut -d' ' -f1 "$WORK/zip.times" | median)"
zbk_peak="$(cut -d' ' -f2 "$WORK/zbk.times" | sort -n | tail -1)"
zip_peak="$(cut -d' ' -f2 "$WORK/zip.times" | sort -n | tail -1)"
zbk_size="$(stat -c %s "$WORK/zbk.zip")"
zip_size="$(stat -c %s "$WORK/zip.zip")"

awk -v zt="$zbk_time" -v it="$zip_time" -v zs="$zbk_size" -v is="$zip_size" -v zp="$zbk_peak" -v ip="$zip_peak" 'BEGIN {
    printf "zbk create:    %8.2f s  %12d bytes  peak %6.1f MB\n", zt, zs, zp / 1024
    printf "zip -6 -r -q:  %8.2f s  %12d bytes  peak %6.1f MB\n", it, is, ip / 1024
    ratio = zt > 0 ? it / zt : 0
    diff = is > 0 ? (zs - is) * 100 / is : 0
    printf "speed ratio (zip/zbk): %.2fx  (target >= 2.0: %s)\n", ratio, (ratio >= 2.0 ? "met" : "missed")
    printf "size difference:       %+.4f%%  (target within 0.1%%: %s)\n", diff, (diff <= 0.1 && diff >= -0.1) ? "met" : "missed"
    printf "zbk peak memory:       %.1f MB  (target <= 32 MB: %s)\n", zp / 1024, (zp <= 32 * 1024 ? "met" : "missed")
}'
