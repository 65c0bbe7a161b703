#!/usr/bin/env bash
# Extraction of many small files into one folder: an archive of N one-byte files (made with Info-ZIP
# zip), extracted by `zbk extract` and by `unzip -qo` in the same run (bench/extract_compare.sh does the
# timing). The time must grow with N, not with N squared: each new name is looked up against the folder
# as it stands, and the folder grows with every file.
#
#   bench/many_files_compare.sh [N] [REPS]     (defaults: 4000 files, 5 repetitions)
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
N="${1:-4000}"
REPS="${2:-5}"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/many-files.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT

mkdir -p "$WORK/files"
(cd "$WORK/files" && for ((i = 0; i < N; i++)); do printf 'x' > "f$i.txt"; done)
(cd "$WORK/files" && zip -q -r "$WORK/many.zip" .)
echo "$N one-byte files in one folder"
CORPUS="$WORK/files" ARCHIVE="$WORK/many.zip" WORK="$WORK/run" "$ROOT/bench/extract_compare.sh" "$REPS"
