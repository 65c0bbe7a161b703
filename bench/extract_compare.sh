#!/usr/bin/env bash
# Extraction speed, end to end: `zbk extract` against Info-ZIP `unzip -qo` on the benchmark corpus archive
# (the logger-like corpus of ../shared/bench/make_corpus.sh, zipped once with `zip -6 -r`), alternating the
# tools in the same run so all see the same machine state. zbk runs with its default worker threads and
# with --threads 1 (everything on one thread); `zbk test` is timed the same two ways. Each repetition
# extracts into a fresh folder; the first repetition's outputs are compared with each other. Prints best
# and median wall times and the ratios unzip / zbk (above 1: zbk is faster) and one thread / default, and
# the largest peak memory of each tool.
#
#   bench/extract_compare.sh [REPS]
# Environment: CORPUS (folder to zip), ARCHIVE (where the zip is kept), ZBK (the tool), WORK (scratch).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
REPS="${1:-${REPS:-5}}"
CORPUS="${CORPUS:-$ROOT/../bench-corpus/corpus}"
ARCHIVE="${ARCHIVE:-$ROOT/build/bench/corpus-zip6.zip}"
ZBK="${ZBK:-$ROOT/build/tools/zbk}"
WORK="${WORK:-$(mktemp -d "${TMPDIR:-/tmp}/extract-compare.XXXXXX")}"
trap 'rm -rf "$WORK"' EXIT

[ -x "$ZBK" ] || { echo "zbk not found at $ZBK (build the zbk target first)" >&2; exit 1; }
command -v unzip >/dev/null || { echo "unzip is not installed" >&2; exit 1; }
[ -d "$CORPUS" ] || { echo "corpus not found at $CORPUS (run ../shared/bench/make_corpus.sh)" >&2; exit 1; }

if [ ! -s "$ARCHIVE" ]; then
    mkdir -p "$(dirname "$ARCHIVE")"
    echo "making $ARCHIVE from $CORPUS" >&2
    (cd "$CORPUS" && zip -6 -r -q "$ARCHIVE.part" . && mv "$ARCHIVE.part" "$ARCHIVE")
fi

# "wall cpu peak" of one command: seconds, to the microsecond (runs of many small files take tens of
# milliseconds); cpu = user + system of the command itself; peak = its largest resident set in KiB, as GNU
# time sees it (the rusage of a child forked from this script's python would count python's pages). On a
# shared machine the wall time carries the other processes' load, the CPU time does not.
seconds() {
    python3 -c '
import os, subprocess, sys, time
start = time.perf_counter()
child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", sys.argv[1]] + sys.argv[2:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(child.pid, 0)
wall = time.perf_counter() - start
peak = int(open(sys.argv[1]).read().split()[-1])
print("%.4f %.4f %d" % (wall, usage.ru_utime + usage.ru_stime, peak))' "$WORK/time" "$@"
}

zbk_times=()
zbk_peak=0
one_peak=0
unzip_peak=0
unzip_times=()
zbk_cpu=()
unzip_cpu=()
one_times=()
one_cpu=()
test_times=()
test_one_times=()
for ((i = 1; i <= REPS; i++)); do
    rm -rf "$WORK/zbk" "$WORK/unzip" "$WORK/one"
    mkdir -p "$WORK/zbk" "$WORK/unzip" "$WORK/one"
    sync
    read -r wall cpu peak < <(seconds "$ZBK" extract "$ARCHIVE" "$WORK/zbk" --recreate)
    zbk_times+=("$wall")
    zbk_cpu+=("$cpu")
    [ "$peak" -gt "$zbk_peak" ] && zbk_peak=$peak
    read -r wall cpu peak < <(seconds unzip -qo "$ARCHIVE" -d "$WORK/unzip")
    unzip_times+=("$wall")
    unzip_cpu+=("$cpu")
    [ "$peak" -gt "$unzip_peak" ] && unzip_peak=$peak
    read -r wall cpu peak < <(seconds "$ZBK" extract "$ARCHIVE" "$WORK/one" --recreate --threads 1)
    one_times+=("$wall")
    one_cpu+=("$cpu")
    [ "$peak" -gt "$one_peak" ] && one_peak=$peak
    read -r wall cpu peak < <(seconds "$ZBK" test "$ARCHIVE")
    test_times+=("$wall")
    read -r wall cpu peak < <(seconds "$ZBK" test "$ARCHIVE" --threads 1)
    test_one_times+=("$wall")
    if [ "$i" = 1 ]; then
        diff -r "$WORK/zbk" "$WORK/unzip" >/dev/null || { echo "outputs differ" >&2; exit 1; }
        diff -r "$WORK/one" "$WORK/unzip" >/dev/null || { echo "outputs differ (one thread)" >&2; exit 1; }
    fi
done

stats() {  # best median
    printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {m = (NR % 2) ? a[(NR+1)/2] : (a[NR/2] + a[NR/2+1]) / 2; printf "%.3f %.3f\n", a[1], m}'
}
read -r zbest zmed < <(stats "${zbk_times[@]}")
read -r ubest umed < <(stats "${unzip_times[@]}")
read -r zcbest zcmed < <(stats "${zbk_cpu[@]}")
read -r ucbest ucmed < <(stats "${unzip_cpu[@]}")
read -r obest omed < <(stats "${one_times[@]}")
read -r ocbest ocmed < <(stats "${one_cpu[@]}")
read -r tbest tmed < <(stats "${test_times[@]}")
read -r t1best t1med < <(stats "${test_one_times[@]}")
bytes=$(du -sb "$CORPUS" | cut -f1)
archive_bytes=$(stat -c %s "$ARCHIVE")

echo "archive: $ARCHIVE ($archive_bytes bytes, $bytes bytes uncompressed), $REPS repetitions"
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
row() {
    printf '%-6s wall best %7.4f s median %7.4f s (%6.1f MB/s)   cpu best %7.4f s median %7.4f s   peak %7.1f MiB\n' \
        "$1" "$2" "$3" "$(awk -v b="$bytes" -v t="$2" 'BEGIN{print b/t/1e6}')" "$4" "$5" \
        "$(awk -v k="$6" 'BEGIN{print k/1024}')"
}
row zbk "$zbest" "$zmed" "$zcbest" "$zcmed" "$zbk_peak"
row zbk-t1 "$obest" "$omed" "$ocbest" "$ocmed" "$one_peak"
row unzip "$ubest" "$umed" "$ucbest" "$ucmed" "$unzip_peak"
printf 'test   wall best %7.4f s median %7.4f s; with --threads 1: best %7.4f s median %7.4f s\n' "$tbest" "$tmed" \
    "$t1best" "$t1med"
awk -v u="$ubest" -v z="$zbest" -v um="$umed" -v zm="$zmed" -v uc="$ucbest" -v zc="$zcbest" \
    'BEGIN {printf "ratio unzip/zbk: wall best %.2fx, wall median %.2fx, cpu best %.2fx (target 3x)\n", u / z, um / zm, uc / zc}'
awk -v u="$ubest" -v o="$obest" -v um="$umed" -v om="$omed" \
    'BEGIN {printf "ratio unzip/zbk-t1: wall best %.2fx, wall median %.2fx\n", u / o, um / om}'
awk -v o="$obest" -v z="$zbest" -v om="$omed" -v zm="$zmed" -v t="$tbest" -v t1="$t1best" -v tm="$tmed" -v t1m="$t1med" \
    'BEGIN {printf "ratio one thread/default: extract wall best %.2fx, median %.2fx; test wall best %.2fx, median %.2fx\n", o / z, om / zm, t1 / t, t1m / tm}'
