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
# Each repetition runs, in turn: zbk with its default threads (one worker per core), zip, zbk with one
# thread, and zbk with two threads when the machine has more than two cores. Prints the median time of
# each, the speed ratio (zip time / zbk time; target >= 2.5), the ratio the one-thread work would reach
# if it were shared out over every core without loss (its bound), the scaling table (each thread count
# against zbk's own one-thread time), whether all of zbk's archives are byte for byte the same (they
# must be), the archive size difference in % (target within 0.1%), zbk's peak resident memory per
# thread count (/usr/bin/time; target <= 32 MB + 16 MB per worker thread beyond the first) and the
# machine's load average before and after (the machine may be shared).
# Exit code 0 when the archives were made, zbk's are all the same and pass `unzip -t`; the targets
# themselves only print.
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

CORES="$(nproc)"
COUNTS="0 1"
[ "$CORES" -gt 2 ] && COUNTS="0 1 2"
echo "corpus: $CORPUS ($(du -sb "$CORPUS" | cut -f1) bytes in $(find "$CORPUS" -type f | wc -l) files), $REPS repetitions, $CORES cores"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 1; i <= REPS; i++)); do
    line="  run $i:"
    for t in $COUNTS; do
        rm -f "$WORK/zbk$t.zip"
        measure "$WORK/zbk$t.times" "$ZBK" create "$WORK/zbk$t.zip" "$CORPUS" '*' --recurse --level 6 --threads "$t"
        line="$line zbk(threads $t) $(tail -1 "$WORK/zbk$t.times" | cut -d' ' -f1)s,"
        if [ "$t" = 0 ]; then
            rm -f "$WORK/zip.zip"
            (cd "$CORPUS" && measure "$WORK/zip.times" zip -6 -r -q "$WORK/zip.zip" .)
            line="$line zip $(tail -1 "$WORK/zip.times" | cut -d' ' -f1)s,"
        fi
    done
    echo "${line%,}"
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

unzip -tqq "$WORK/zbk0.zip" || { echo "zbk's archive fails unzip -t" >&2; exit 1; }
for t in $COUNTS; do
    cmp -s "$WORK/zbk0.zip" "$WORK/zbk$t.zip" || { echo "zbk's archive with threads $t differs" >&2; exit 1; }
done
echo "zbk's archives for every thread count: byte for byte the same"

med() { cut -d' ' -f1 "$1" | median; }
peak() { cut -d' ' -f2 "$1" | sort -n | tail -1; }
zbk_time="$(med "$WORK/zbk0.times")"
one_time="$(med "$WORK/zbk1.times")"
zip_time="$(med "$WORK/zip.times")"
zbk_peak="$(peak "$WORK/zbk0.times")"
zip_peak="$(peak "$WORK/zip.times")"
zbk_size="$(stat -c %s "$WORK/zbk0.zip")"
zip_size="$(stat -c %s "$WORK/zip.zip")"

awk -v zt="$zbk_time" -v it="$zip_time" -v zs="$zbk_size" -v is="$zip_size" -v zp="$zbk_peak" -v ip="$zip_peak" \
    -v cores="$CORES" -v ot="$one_time" 'BEGIN {
    printf "zbk create:    %8.2f s  %12d bytes  peak %6.1f MB  (%d threads)\n", zt, zs, zp / 1024, cores
    printf "zip -6 -r -q:  %8.2f s  %12d bytes  peak %6.1f MB\n", it, is, ip / 1024
    ratio = zt > 0 ? it / zt : 0
    diff = is > 0 ? (zs - is) * 100 / is : 0
    printf "speed ratio (zip/zbk): %.2fx  (target >= 2.5: %s)\n", ratio, (ratio >= 2.5 ? "met" : "missed")
    # What the same work would give if it were shared out over every core without any loss: the time
    # of the one-thread run divided by the cores: the most threads can give unless the work gets cheaper.
    printf "bound (one-thread time / %d cores): %.2fx\n", cores, (ot > 0 ? it * cores / ot : 0)
    printf "size difference:       %+.4f%%  (target within 0.1%%: %s)\n", diff, (diff <= 0.1 && diff >= -0.1) ? "met" : "missed"
}'
echo "scaling (median time; speed against zbk's own one-thread time; peak memory against its limit):"
for t in $COUNTS; do
    threads="$t"
    [ "$t" = 0 ] && threads="$CORES"
    awk -v t="$threads" -v label="$([ "$t" = 0 ] && echo "all cores" || echo "$t")" -v tt="$(med "$WORK/zbk$t.times")" \
        -v ot="$one_time" -v p="$(peak "$WORK/zbk$t.times")" 'BEGIN {
        limit = 32 + 16 * (t > 1 ? t - 1 : 0)
        printf "  threads %-9s %8.2f s  %5.2fx  peak %6.1f MB (limit %d MB: %s)\n", label, tt, (tt > 0 ? ot / tt : 0),
            p / 1024, limit, (p / 1024 <= limit ? "met" : "missed")
    }'
done
