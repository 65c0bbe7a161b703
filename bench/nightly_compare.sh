#!/usr/bin/env bash
# A night's backup after a day that changed only the logs: the program's `backup` command (which carries
# the unchanged entries over from the last backup) against Info-ZIP `zip -6 -r -q` of the same files and
# against our own `backup --full` (every file compressed), in the same run; and a backup with nothing
# changed, `backup --if-changed` (no new archive), against zip. Several repetitions taken in turns (so
# all see the same machine load).
#
#   bench/nightly_compare.sh [CORPUS] [REPETITIONS]
#
# CORPUS defaults to ../bench-corpus/corpus beside the project (made by ../shared/bench/make_corpus.sh) and
# is only read: the run builds a logger folder of its own whose files are hard links to the corpus's
# (symbolic links when the corpus is on another file system), with a stand-in ZORVEL_Log3.exe, a tmp
# folder and a link to the program (PROGRAM, default build/ZORVEL_Backup), which takes the folder it is
# in as the logger folder. DB/Logs.mdb is a copy of its own, since the day changes it: a few of its pages
# are rewritten and a page is added (its size and time change). No Wine prefix holds the folder, so the
# registry exports fail and every backup is made without them (exit code 4).
#
# Each repetition: the first backup of the day before (not timed), the day's change, then in turn the
# night's backup, zip of exactly the files the backup took, `backup --full`, and `backup --if-changed`
# with nothing changed since. Prints the medians, the ratios (targets: zip / night >= 6, full / night
# >= 4, zip / unchanged >= 20), the archive sizes and each one's peak resident memory (/usr/bin/time),
# the night's against the full backup's (it must not need more).
# Exit code 0 when the night's archive is byte for byte the full backup's, passes `unzip -t`, and the
# run with nothing changed made no archive; the targets themselves only print.
set -euo pipefail

HERE="$(cd "$(dirname "$0")" && pwd)"
PROJECT="$(cd "$HERE/.." && pwd)"
CORPUS="$(cd "${1:-$PROJECT/../bench-corpus/corpus}" && pwd)"
REPS="${2:-3}"
PROGRAM="${PROGRAM:-$PROJECT/build/ZORVEL_Backup}"
TIME=/usr/bin/time

for tool in "$PROGRAM" zip unzip python3 "$TIME"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done
[ -f "$CORPUS/DB/Logs.mdb" ] || { echo "no DB/Logs.mdb in $CORPUS" >&2; exit 2; }

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
LOGGER="$WORK/ZORVEL Log3"
BACKUPS="$WORK/backups"
mkdir -p "$LOGGER/tmp" "$BACKUPS"
# The program's remembered settings and records stay inside the run.
export XDG_CONFIG_HOME="$WORK/config" XDG_STATE_HOME="$WORK/state" QT_QPA_PLATFORM=offscreen

link_mode=hard
(cd "$CORPUS" && find . -type d) | while read -r dir; do mkdir -p "$LOGGER/$dir"; done
while IFS= read -r -d '' file; do
    rel="${file#./}"
    if [ "$link_mode" = hard ] && ln "$CORPUS/$rel" "$LOGGER/$rel" 2>/dev/null; then continue; fi
    link_mode=symbolic
    ln -s "$CORPUS/$rel" "$LOGGER/$rel"
done < <(cd "$CORPUS" && find . -type f -print0)
printf 'MZ stand-in\n' > "$LOGGER/ZORVEL_Log3.exe"
ln -s "$PROGRAM" "$LOGGER/ZORVEL_Backup"

# The day before: Logs.mdb as the corpus has it, in a file of its own.
yesterday() { rm -f "$LOGGER/DB/Logs.mdb"; cp -p "$CORPUS/DB/Logs.mdb" "$LOGGER/DB/Logs.mdb"; }
# The day: a few pages of the logs rewritten (a QSO's record changed here and there) and one added.
today() {
    python3 - "$LOGGER/DB/Logs.mdb" <<'PY'
import sys
path = sys.argv[1]
page = 4096
with open(path, "r+b") as f:
    data = bytearray(f.read())
    pages = len(data) // page
    for n in (pages // 7, pages // 3, pages // 2, pages - 2):
        at = n * page + 600
        data[at:at + 64] = bytes((b * 7 + n) & 0xFF for b in range(64))
    data += data[page * 5:page * 6]
    f.seek(0)
    f.write(data)
PY
}

measure() {  # appends "seconds peak_kb" of the command to the given file; its output to $WORK/out
    local out="$1"; shift
    local status=0
    "$TIME" -f "%e %M" -o "$WORK/time" "$@" > "$WORK/out" 2> "$WORK/err" || status=$?
    [ "$status" -eq 0 ] || [ "$status" -eq 4 ] || { echo "failed ($status): $*" >&2; cat "$WORK/err" >&2; exit 1; }
    tail -1 "$WORK/time" >> "$out"  # after "Command exited with non-zero status 4"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
next_second() { sleep 1.1; }  # each backup gets a name of its own
# timed_backup TIMES [options...]: the program's backup into BACKUPS, measured; its output in $WORK/out
timed_backup() { local times="$1"; shift; (cd "$LOGGER" && measure "$times" ./ZORVEL_Backup backup --to "$BACKUPS" "$@"); }

echo "corpus: $CORPUS ($(du -sbL "$CORPUS" | cut -f1) bytes in $(find "$CORPUS" -type f | wc -l) files), $REPS repetitions, $link_mode links, $(nproc) cores"
echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
for ((i = 1; i <= REPS; i++)); do
    rm -f "$BACKUPS"/zorvel3_*.zip "$WORK/zip.zip"
    yesterday
    timed_backup "$WORK/first.times"
    next_second
    today

    timed_backup "$WORK/night.times"
    night="$(head -1 "$WORK/out")"
    [ -f "$night" ] || { echo "the night's backup made no archive" >&2; exit 1; }
    unzip -Z1 "$night" > "$WORK/list"
    (cd "$LOGGER" && measure "$WORK/zip.times" zip -6 -r -q "$WORK/zip.zip" -@ < "$WORK/list")
    next_second
    timed_backup "$WORK/full.times" --full
    full="$(head -1 "$WORK/out")"
    cmp -s "$night" "$full" || { echo "the night's archive differs from the full backup's" >&2; exit 1; }
    before="$(ls "$BACKUPS" | wc -l)"
    next_second
    timed_backup "$WORK/unchanged.times" --if-changed
    [ "$(ls "$BACKUPS" | wc -l)" = "$before" ] || { echo "--if-changed made an archive with nothing changed" >&2; exit 1; }
    [ "$(head -1 "$WORK/out")" = "$full" ] || { echo "--if-changed named $(head -1 "$WORK/out"), not $full" >&2; exit 1; }
    printf '  run %d: night %ss, zip %ss, full %ss, unchanged %ss\n' "$i" \
        "$(tail -1 "$WORK/night.times" | cut -d' ' -f1)" "$(tail -1 "$WORK/zip.times" | cut -d' ' -f1)" \
        "$(tail -1 "$WORK/full.times" | cut -d' ' -f1)" "$(tail -1 "$WORK/unchanged.times" | cut -d' ' -f1)"
done
echo "load average after:  $(cut -d' ' -f1-3 /proc/loadavg)"

unzip -tqq "$night" || { echo "the night's backup fails unzip -t" >&2; exit 1; }
echo "the night's archive and the full backup's: byte for byte the same"

med() { cut -d' ' -f1 "$1" | median; }
peak() { cut -d' ' -f2 "$1" | sort -n | tail -1; }
awk -v nt="$(med "$WORK/night.times")" -v it="$(med "$WORK/zip.times")" -v ft="$(med "$WORK/full.times")" \
    -v ut="$(med "$WORK/unchanged.times")" -v np="$(peak "$WORK/night.times")" -v ip="$(peak "$WORK/zip.times")" \
    -v fp="$(peak "$WORK/full.times")" -v up="$(peak "$WORK/unchanged.times")" \
    -v ns="$(stat -c %s "$night")" -v is="$(stat -c %s "$WORK/zip.zip")" -v n="$(wc -l < "$WORK/list")" 'BEGIN {
    printf "nightly backup (carry-over): %8.2f s  %12d bytes  peak %6.1f MB  %d entries\n", nt, ns, np / 1024, n
    printf "backup --full:               %8.2f s  %12d bytes  peak %6.1f MB\n", ft, ns, fp / 1024
    printf "zip -6 -r -q:                %8.2f s  %12d bytes  peak %6.1f MB\n", it, is, ip / 1024
    printf "backup --if-changed, none:   %8.2f s  (no archive)        peak %6.1f MB\n", ut, up / 1024
    r1 = nt > 0 ? it / nt : 0; r2 = nt > 0 ? ft / nt : 0; r3 = ut > 0 ? it / ut : 0
    printf "speed ratio zip / night:       %6.2fx  (target >= 6: %s)\n", r1, (r1 >= 6 ? "met" : "missed")
    printf "speed ratio full / night:      %6.2fx  (target >= 4: %s)\n", r2, (r2 >= 4 ? "met" : "missed")
    printf "speed ratio zip / unchanged:   %6.2fx  (target >= 20: %s)\n", r3, (r3 >= 20 ? "met" : "missed")
    printf "peak memory night / full:      %6.2f   (at most 1: %s)\n", (fp > 0 ? np / fp : 0), (np <= fp ? "met" : "missed")
    printf "peak memory unchanged / full:  %6.2f   (at most 1: %s)\n", (fp > 0 ? up / fp : 0), (up <= fp ? "met" : "missed")
}'
