#!/usr/bin/env bash
# Runs one test executable for ctest so that a skip is reported as a skip, not as a pass.
#   run_test.sh <skip record> <test executable> [arguments...]
# The executable's own exit status is passed on when it is not 0. When it passed but skipped something
# (GoogleTest "[  SKIPPED ]", Qt Test "SKIP   :"), the exit status is 77 (the tests' SKIP_RETURN_CODE)
# and the skip record gets one line per skipped case with its reason, for ./test.sh's summary. Windows
# programs under Wine end their lines with CR LF.
set -uo pipefail
record="$1"
shift
mkdir -p "$(dirname "$record")"
rm -f "$record"
log="$(mktemp)"

# The test ends with this script, even when ctest kills the script outright at its time limit.
runner=()
if command -v setpriv >/dev/null; then
    runner=(setpriv --pdeathsig TERM --)
fi
"${runner[@]}" "$@" >"$log" 2>&1 &
child=$!
trap 'kill -TERM "$child" 2>/dev/null; wait "$child"; cat "$log"; rm -f "$log"; exit 143' TERM INT
wait "$child"
rc=$?
trap - TERM INT
cat "$log"

if [ "$rc" -eq 0 ]; then
    # GoogleTest: "file:line: Skipped", the reason on the lines after it, then "[  SKIPPED ] Suite.Name (n ms)".
    # Qt Test: "SKIP   : Class::function() reason".
    awk '
        /: Skipped$/ { reason = ""; inReason = 1; next }
        inReason && /^$/ { inReason = 0; next }
        inReason && /^\[  SKIPPED \] / { inReason = 0 }
        inReason { reason = reason (reason == "" ? "" : " ") $0; next }
        /^\[  SKIPPED \] [^ ]+ \(/ { print $4 ": " reason; reason = ""; next }
        /^SKIP   : / { sub(/^SKIP   : /, ""); print }
    ' < <(tr -d '\r' <"$log") >"$record"
    if [ -s "$record" ]; then
        rc=77
    else
        rm -f "$record"
    fi
fi
rm -f "$log"
exit "$rc"
