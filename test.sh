#!/usr/bin/env bash
# Set-up, build (warnings are errors), and every test: ./test.sh
# Ends with one line naming the groups that skipped something. A skip for want of anything that
# scripts/setup.sh installs (zip, unzip, 7z, python3, wine, mingw-w64, clang...) fails the run; only the
# external legacy corpus (../shared/testdata/legacy or ZB_LEGACY_CORPUS) and what this machine cannot
# offer at all (mount rights, a processor feature, extended attributes in the temporary folder) may be
# missing.
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
# The commands and the command line know no widget (the compiler cannot see that rule).
python3 scripts/check_layers.py
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_WERROR=ON >/dev/null
cmake --build build

rm -rf build/Testing/skipped
status=0
(cd build && ctest --output-on-failure -j2) || status=$?

# The Debian package: made, checked by lintian, unpacked and run (scripts/check_package.sh).
./scripts/check_package.sh build || status=$?

# A few seconds of every fuzz target under the sanitizers.
if [ "$status" -eq 0 ]; then
    ./scripts/fuzz_smoke.sh || status=$?
fi

# The engine as a Windows program: its tests under Wine and the interop of zbk.exe with zbk.
./scripts/windows_tests.sh || status=$?

# Skip records: one file per test executable, one "case: reason" line per skipped case.
allowed='external corpus|cannot trace processes here|mount rights|no PCLMULQDQ|takes no user extended attributes|no file system here takes user extended attributes|keeps no extended attributes|keeps no DOS attributes|no user.DOSATTRIB|no sparse 4 GiB file'
skipped=()
refused=()
shopt -s nullglob
# What Windows itself lacks (a per-process file size limit to fill a disk with), and what Wine cannot do.
allowed_windows="$allowed|Windows has no|Wine cannot"
for record in build/Testing/skipped/*.txt build-win/Testing/skipped/*.txt; do
    group="$(basename "$record" .txt)"
    pattern="$allowed"
    if [[ "$record" == build-win/* ]]; then
        group="windows:$group"
        pattern="$allowed_windows"
    fi
    skipped+=("$group")
    while IFS= read -r line; do
        if ! grep -Eq "$pattern" <<<"$line"; then
            refused+=("$group: $line")
        fi
    done <"$record"
done
if [ "${#refused[@]}" -gt 0 ]; then
    echo "test.sh: these skips need something scripts/setup.sh installs, or a fault:" >&2
    printf '  %s\n' "${refused[@]}" >&2
    status=1
fi

verdict="passed"
[ "$status" -eq 0 ] || verdict="FAILED"
if [ "${#skipped[@]}" -eq 0 ]; then
    echo "test.sh: $verdict; nothing skipped"
else
    echo "test.sh: $verdict; skipped groups (see build/Testing/skipped/): ${skipped[*]}"
fi
exit "$status"
