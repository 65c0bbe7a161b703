#!/usr/bin/env bash
# Extraction of many small files into one folder: an archive of N one-byte files (made with Info-ZIP
# zip), extracted by `zbk extract` and by `unzip -qo` in the same run (bench/extract_compare.sh does the
# timing). The time must grow with N, not with N squared: each new name is looked up against the folder
# as it stands, and the folder grows with every file. Then the system calls per file of each tool, counted
# with `strace -f -c` on N and on N/2 files (the difference over N/2 files, so that what a run costs
# whatever its size drops out), with the calls zbk makes most.
#
#   bench/many_files_compare.sh [N] [REPS]     (defaults: 4000 files, 5 repetitions)
#   TMPDIR=/dev/shm bench/many_files_compare.sh   on a tmpfs, where the file system costs least and the
#                                                 tools' own work shows most
# Environment: ZBK (the tool), STRACE=0 to skip the counting.
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
N="${1:-4000}"
REPS="${2:-5}"
ZBK="${ZBK:-$ROOT/build/tools/zbk}"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/many-files.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

# make_archive COUNT NAME: COUNT one-byte files in one folder, zipped as $WORK/NAME.zip.
make_archive() {
    mkdir -p "$WORK/$2"
    (cd "$WORK/$2" && for ((i = 0; i < $1; i++)); do printf 'x' > "f$i.txt"; done)
    (cd "$WORK/$2" && zip -q -r "$WORK/$2.zip" .)
}

make_archive "$N" files
echo "$N one-byte files in one folder, under $(df --output=fstype "$WORK" | tail -1) ($WORK)"
CORPUS="$WORK/files" ARCHIVE="$WORK/files.zip" WORK="$WORK/run" ZBK="$ZBK" "$ROOT/bench/extract_compare.sh" "$REPS"

[ "${STRACE:-1}" = 0 ] && exit 0
command -v strace >/dev/null || { echo "strace is not installed: no system call counts" >&2; exit 0; }
HALF=$((N / 2))
[ "$HALF" -gt 0 ] || exit 0
make_archive "$HALF" half

# calls ARCHIVE LABEL COMMAND...: runs COMMAND (its output folder $WORK/out, made fresh) under strace -f -c,
# keeps the table as $WORK/LABEL.calls and prints the total number of calls.
calls() {
    local archive="$1" label="$2"
    shift 2
    rm -rf "$WORK/out"
    mkdir -p "$WORK/out"
    strace -f -c -o "$WORK/$label.calls" "$@" >/dev/null 2>&1
    awk '$NF == "total" {print $4 + 0}' "$WORK/$label.calls"
}
# per_file FULL HALF: calls per file from the two totals.
per_file() { awk -v a="$1" -v b="$2" -v n="$((N - HALF))" 'BEGIN {printf "%.1f", (a - b) / n}'; }

echo "system calls per file (strace -f -c, $N files less $HALF files, over $((N - HALF)) files):"
for tool in zbk zbk-t1 unzip; do
    case "$tool" in
        zbk) cmd=("$ZBK" extract ARCHIVE "$WORK/out" --recreate) ;;
        zbk-t1) cmd=("$ZBK" extract ARCHIVE "$WORK/out" --recreate --threads 1) ;;
        unzip) cmd=(unzip -qo ARCHIVE -d "$WORK/out") ;;
    esac
    full=$(calls "$WORK/files.zip" "$tool-full" "${cmd[@]/ARCHIVE/$WORK/files.zip}")
    half=$(calls "$WORK/half.zip" "$tool-half" "${cmd[@]/ARCHIVE/$WORK/half.zip}")
    printf '%-7s %6s per file  (%s calls for %d files, %s for %d)\n' "$tool" "$(per_file "$full" "$half")" "$full" \
        "$N" "$half" "$HALF"
    # The calls that grow with the files, by name: the difference of the two tables.
    awk -v n="$((N - HALF))" '
        FNR == 1 {file++}
        # "% time, seconds, usecs/call, calls, [errors,] syscall"
        $NF != "total" && $NF ~ /^[a-z_0-9]+$/ && $4 ~ /^[0-9]+$/ {
            if (file == 1) full[$NF] = $4; else half[$NF] = $4
        }
        END {
            line = ""
            for (name in full) {
                d = (full[name] - half[name]) / n
                if (d >= 0.05) line = line sprintf(" %s %.2f", name, d)
            }
            print "        " line
        }' "$WORK/$tool-full.calls" "$WORK/$tool-half.calls"
done
