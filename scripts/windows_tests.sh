#!/usr/bin/env bash
# The engine as a Windows program: cross build (MinGW-w64, warnings as errors) into build-win/, every
# engine test under Wine in a private Wine prefix, and the interop check of zbk.exe against the Linux zbk
# (build/tools/zbk, built before). Skip records go to build-win/Testing/skipped/ for test.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZB_WERROR=ON >/dev/null
cmake --build build-win

prefix="$(mktemp -d)"
export WINEPREFIX="$prefix/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# The tests' expectations of stored names are those of OEM code page 437, the page Wine gives the C
# locale (a Western European locale would give 850); the Russian run below sets its own.
export LC_ALL=C.UTF-8
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "${server:-}" ] && kill "$server" 2>/dev/null
    rm -rf "$prefix"
}
trap cleanup EXIT
wineboot -i >/dev/null 2>&1 || true

# The shell server: the Windows tests hand their shell commands (the oracles, links) to it through a
# spool folder rather than start Unix programs through Wine.
spool="$prefix/spool"
mkdir -p "$spool"
(
    while [ -d "$spool" ]; do
        for job in "$spool"/*.sh; do
            [ -e "$job" ] || continue
            mv "$job" "$job.run" 2>/dev/null || continue
            (sh "$job.run" >/dev/null 2>&1 </dev/null; rm -f "$job.run") &
        done
        sleep 0.02
    done
) &
server=$!
export ZB_SHELL_SPOOL="Z:$spool"

status=0
rm -rf build-win/Testing/skipped
# One at a time: the shell server and Wine are shared.
(cd build-win && ctest --output-on-failure) || status=$?

# Names without the UTF-8 flag are in the system's OEM code page: once more under a Russian locale, whose
# OEM page (866) holds Cyrillic names that code page 437 does not.
oem_log="$prefix/oem.log"
LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 ZB_EXPECT_OEM=866 \
    wine build-win/tests/archive.codepage.codepage_test.exe --gtest_filter='OemCodePage.*' >"$oem_log" 2>&1 || true
if grep -q '^\[  PASSED  \] 2 tests' "$oem_log"; then
    echo "oem code page: Cyrillic names stored in CP866 under a Russian locale"
else
    cat "$oem_log" >&2
    echo "oem code page: the test under a Russian locale did not pass" >&2
    status=1
fi

# Interop: the same input stored by zbk.exe under Wine and by zbk, entry by entry with the same
# compressed bytes, and each archive read back whole by the other program.
work="$prefix/interop"
mkdir -p "$work/in/DB/Sub" "$work/out-l" "$work/out-w"
python3 - "$work/in" <<'PY'
import os, random, sys
root = sys.argv[1]
rnd = random.Random(7)
words = [b"QSO", b"CQ", b"DX", b"73", b"ZORVEL", b"log", b"14.074", b"FT8", b"\n"]
for i in range(12):
    data = b" ".join(rnd.choice(words) for _ in range(rnd.randint(0, 40000)))
    path = os.path.join(root, "DB" if i % 2 else "DB/Sub", "f%02d.dat" % i)
    open(path, "wb").write(data)
open(os.path.join(root, "DB", "random.bin"), "wb").write(bytes(rnd.getrandbits(8) for _ in range(300000)))
open(os.path.join(root, "DB", "empty.txt"), "wb").write(b"")
PY
win_in="Z:$work/in"
build/tools/zbk create "$work/linux.zip" "$work/in" '*.*' --recurse --level 9 >/dev/null
wine build-win/tools/zbk.exe create "Z:$work/windows.zip" "$win_in" '*.*' --recurse --level 9 >/dev/null
python3 - "$work/linux.zip" "$work/windows.zip" <<'PY' || status=1
import sys, zipfile
def entries(path):
    out = {}
    with zipfile.ZipFile(path) as z, open(path, "rb") as raw:
        for info in z.infolist():
            raw.seek(info.header_offset)
            head = raw.read(30)
            start = info.header_offset + 30 + int.from_bytes(head[26:28], "little") + int.from_bytes(head[28:30], "little")
            raw.seek(start)
            out[info.filename] = (info.compress_type, info.CRC, info.file_size, raw.read(info.compress_size))
    return out
linux, windows = entries(sys.argv[1]), entries(sys.argv[2])
if set(linux) != set(windows):
    sys.exit("interop: the entries differ: %s" % sorted(set(linux) ^ set(windows)))
for name in linux:
    if linux[name] != windows[name]:
        sys.exit("interop: %s is stored differently by zbk.exe" % name)
print("interop: %d entries stored alike" % len(linux))
PY
build/tools/zbk extract "$work/windows.zip" "$work/out-l" --recreate >/dev/null || status=1
wine build-win/tools/zbk.exe extract "Z:$work/linux.zip" "Z:$work/out-w" --recreate >/dev/null || status=1
diff -r "$work/in" "$work/out-l" >/dev/null || { echo "interop: zbk reads zbk.exe's archive differently" >&2; status=1; }
diff -r "$work/in" "$work/out-w" >/dev/null || { echo "interop: zbk.exe reads zbk's archive differently" >&2; status=1; }
exit "$status"
