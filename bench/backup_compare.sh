#!/usr/bin/env bash
# End-to-end comparison of a whole backup: the real window's create command, offscreen (bench/backup_driver),
# against Info-ZIP `zip -6 -r -q` of the same files, in the same run, several repetitions taken in turns
# (so both see the same machine load).
#
#   bench/backup_compare.sh [CORPUS] [REPETITIONS]
#
# CORPUS defaults to ../bench-corpus/corpus beside the project (made by ../shared/bench/make_corpus.sh) and
# is only read: the run builds a logger folder of its own whose files are hard links to the corpus's
# (symbolic links when the corpus is on another file system), with a stand-in ZORVEL_Log3.exe and a tmp
# folder. No Wine prefix holds it, so the registry exports fail and the backup is made without them.
# REPETITIONS defaults to 3. DRIVER names the driver (default build/bench/backup_driver).
#
# zip gets exactly the files the backup took (its entry list), so both archive the same bytes.
# Prints the median of each (the window's click alone, as the driver timed it, and its whole process
# with Qt's start-up), the ratio zip time / backup time, the archive sizes and peak memory.
# Each repetition also makes the backup once without reading the archive back (NO_VERIFY=1): the
# difference is what the verification of every backup costs.
# Exit code 0 when both archives were made and the backup passes `unzip -t`.
set -euo pipefail

HERE="$(cd "$(dirname "$0")" && pwd)"
PROJECT="$(cd "$HERE/.." && pwd)"
CORPUS="$(cd "${1:-$PROJECT/../bench-corpus/corpus}" && pwd)"
REPS="${2:-3}"
DRIVER="${DRIVER:-$PROJECT/build/bench/backup_driver}"
TIME=/usr/bin/time

for tool in "$DRIVER" zip unzip "$TIME"; do
    command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
LOGGER="$WORK/ZORVEL Log3"
BACKUPS="$WORK/backups"
mkdir -p "$LOGGER/tmp" "$BACKUPS"

# The logger folder: the corpus's folders made anew, its files linked in.
link_mode=hard
(cd "$CORPUS" && find . -type d) | while read -r dir; do mkdir -p "$LOGGER/$dir"; done
while IFS= read -r -d '' file; do
    rel="${file#./}"
    if [ "$link_mode" = hard ] && ln "$CORPUS/$rel" "$LOGGER/$rel" 2>/dev/null; then continue; fi
    link_mode=symbolic
    ln -s "$CORPUS/$rel" "$LOGGER/$rel"
done < <(cd "$CORPUS" && find . -type f -print0)
printf 'MZ stand-in\n' > "$LOGGER/ZORVEL_Log3.exe"

measure() {  # appends "seconds peak_kb" of the command to the given file
    local out="$1"; shift
    "$TIME" -f "%e %M" -o "$WORK/time" "$@" > "$WORK/out"
    cat "$WORK/time" >> "$out"
}
median() { sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }

echo "corpus: $CORPUS ($(du -sbL "$CORPUS" | cut -f1) bytes in $(find "$CORPUS" -type f | wc -l) files), $REPS repetitions, $link_mode links"
for ((i = 1; i <= REPS; i++)); do
    rm -f "$BACKUPS"/zorvel3_*.zip "$WORK/zip.zip"
    NO_VERIFY=1 "$DRIVER" "$LOGGER" "$BACKUPS" > "$WORK/out"
    awk '/^seconds / { print $2 }' "$WORK/out" >> "$WORK/noverify.times"
    rm -f "$BACKUPS"/zorvel3_*.zip
    measure "$WORK/backup.times" "$DRIVER" "$LOGGER" "$BACKUPS"
    awk '/^seconds / { print $2 }' "$WORK/out" >> "$WORK/click.times"
    archive="$(sed -n 's/^archive //p' "$WORK/out")"
    [ -f "$archive" ] || { echo "the window made no archive" >&2; exit 1; }
    unzip -Z1 "$archive" > "$WORK/list"
    (cd "$LOGGER" && measure "$WORK/zip.times" zip -6 -r -q "$WORK/zip.zip" -@ < "$WORK/list")
    printf '  run %d: backup click %ss (without the read-back %ss) (process %ss), zip %ss\n' "$i" \
        "$(tail -1 "$WORK/click.times")" "$(tail -1 "$WORK/noverify.times")" \
        "$(tail -1 "$WORK/backup.times" | cut -d' ' -f1)" "$(tail -1 "$WORK/zip.times" | cut -d' ' -f1)"
done

unzip -tqq "$archive" || { echo "the backup fails unzip -t" >&2; exit 1; }

click_time="$(median < "$WORK/click.times")"
noverify_time="$(median < "$WORK/noverify.times")"
process_time="$(cut -d' ' -f1 "$WORK/backup.times" | median)"
zip_time="$(cut -d' ' -f1 "$WORK/zip.times" | median)"
backup_peak="$(cut -d' ' -f2 "$WORK/backup.times" | sort -n | tail -1)"
zip_peak="$(cut -d' ' -f2 "$WORK/zip.times" | sort -n | tail -1)"
backup_size="$(stat -c %s "$archive")"
zip_size="$(stat -c %s "$WORK/zip.zip")"
entries="$(wc -l < "$WORK/list")"

awk -v ct="$click_time" -v nt="$noverify_time" -v pt="$process_time" -v it="$zip_time" -v bs="$backup_size" -v is="$zip_size" \
    -v bp="$backup_peak" -v ip="$zip_peak" -v n="$entries" 'BEGIN {
    printf "backup (window, click):   %8.2f s  %12d bytes  %d entries\n", ct, bs, n
    printf "backup (whole process):   %8.2f s  peak %6.1f MB\n", pt, bp / 1024
    printf "zip -6 -r -q:             %8.2f s  %12d bytes  peak %6.1f MB\n", it, is, ip / 1024
    printf "backup without read-back: %8.2f s\n", nt
    printf "read-back cost:                     %+.1f%% of the backup without it\n", (nt > 0 ? (ct - nt) * 100 / nt : 0)
    printf "speed ratio (zip / backup click):   %.2fx\n", (ct > 0 ? it / ct : 0)
    printf "speed ratio (zip / backup process): %.2fx\n", (pt > 0 ? it / pt : 0)
    printf "size difference:                    %+.4f%%\n", (is > 0 ? (bs - is) * 100 / is : 0)
}'
