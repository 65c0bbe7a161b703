#!/usr/bin/env bash
# Makes the Debian package and checks it as a user's machine would take it: ./scripts/check_package.sh [BUILD_DIR]
#
#  - the package holds each file the program needs installed, and its version is the program's;
#  - its dependencies come from the binary (run-time Qt libraries, no -dev package), wine is recommended;
#  - lintian finds no error (its warnings and notes are printed);
#  - unpacked into a scratch root (no install, no root rights needed), the program from it tells its
#    version, `setup` links it into a demo logger folder and adds the menu entry, a backup started
#    through that link is made and reads back whole, and `setup --remove` takes both away again; the
#    program's libraries come from the system;
#  - man renders the manual page without a warning, both desktop files (the installed one and the one
#    setup wrote) pass desktop-file-validate, and the AppStream metadata passes appstreamcli.
# scripts/setup.sh installs what it uses (dpkg-dev, lintian, man-db, desktop-file-utils, appstream, unzip).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

failures=0
fail() {
    echo "check_package: $*" >&2
    failures=$((failures + 1))
}

log=$(mktemp)
if ! cmake --build "$build" --target package >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "check_package: the package could not be made" >&2
    exit 1
fi
rm -f "$log"

version=$(dpkg-parsechangelog -l dist/changelog -S Version)
program_version=$(sed -n 's/^project(ZORVEL_Backup VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ "${version%-*}" = "$program_version" ] ||
    fail "dist/changelog's newest entry is version $version, the program is $program_version: add an entry"
deb="$build/zorvel-backup_${version}_amd64.deb"
if [ ! -f "$deb" ]; then
    echo "check_package: $deb was not made" >&2
    exit 1
fi
echo "check_package: $deb ($(du -k "$deb" | cut -f1) KiB)"

# The files.
listing=$(dpkg-deb -c "$deb")
for file in \
    ./usr/bin/ZORVEL_Backup \
    ./usr/lib/zorvel-backup/ZORVEL_Backup \
    ./usr/lib/zorvel-backup/zb_close_window.exe \
    ./usr/share/applications/zorvel-backup.desktop \
    ./usr/share/icons/hicolor/scalable/apps/zorvel-backup.svg \
    ./usr/share/metainfo/org.zorvel.backup.metainfo.xml \
    ./usr/share/man/man1/ZORVEL_Backup.1.gz \
    ./usr/share/doc/zorvel-backup/copyright \
    ./usr/share/doc/zorvel-backup/changelog.Debian.gz; do
    grep -Eq " ${file//./\\.}( -> .*)?$" <<<"$listing" || fail "the package lacks $file"
done
grep -Eq ' \./usr/bin/ZORVEL_Backup -> \.\./lib/zorvel-backup/ZORVEL_Backup$' <<<"$listing" ||
    fail "/usr/bin/ZORVEL_Backup is not the relative link to ../lib/zorvel-backup/ZORVEL_Backup"

# The dependencies.
depends=$(dpkg-deb -f "$deb" Depends)
recommends=$(dpkg-deb -f "$deb" Recommends)
echo "check_package: Depends: $depends"
echo "check_package: Recommends: $recommends"
depends_names=$(tr ',' '\n' <<<"$depends" | awk '{print $1}')
for library in libqt6core6 libqt6widgets6 libqt6dbus6 libc6 libstdc++6 qt6-qpa-plugins; do
    grep -qxF "$library" <<<"$depends_names" || fail "Depends lacks $library"
done
grep -q -- '-dev' <<<"$depends" && fail "Depends names a -dev package: $depends"
[ "$recommends" = "wine" ] || fail "Recommends is '$recommends', not wine"

# lintian: no error. Its other findings are printed.
lintian_out=$(lintian --info --tag-display-limit 0 "$deb" 2>&1) || true
if [ -n "$lintian_out" ]; then
    echo "check_package: lintian says:"
    sed 's/^/  /' <<<"$lintian_out"
fi
grep -q '^E: ' <<<"$lintian_out" && fail "lintian reports errors"

root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root/pkg"
program="$root/pkg/usr/bin/ZORVEL_Backup"

# The program from the package; its libraries from the system (no LD_LIBRARY_PATH).
env -u LD_LIBRARY_PATH "$program" --version >"$root/version" 2>&1 || fail "--version failed: $(cat "$root/version")"
grep -q "^ZORVEL_Backup " "$root/version" || fail "--version said: $(cat "$root/version")"

# setup into a demo logger folder, a backup through the link it made, and setup --remove.
logger="$root/Logger's folder 100%"
python3 scripts/make_demo_logger.py "$logger" >/dev/null
home="$root/home"
mkdir -p "$home" "$root/backups"
run() { env -u LD_LIBRARY_PATH -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_STATE_HOME HOME="$home" "$@"; }
if ! run "$program" setup "$logger" >"$root/setup" 2>&1; then
    fail "setup failed: $(cat "$root/setup")"
fi
[ "$(readlink -f "$logger/ZORVEL_Backup")" = "$root/pkg/usr/lib/zorvel-backup/ZORVEL_Backup" ] ||
    fail "setup made no link to the installed program: $(ls -l "$logger/ZORVEL_Backup" 2>&1)"
entries=("$home"/.local/share/applications/zorvel-backup-*.desktop)
[ -f "${entries[0]}" ] || fail "setup wrote no menu entry"
grep -q "schedule" "$root/setup" || fail "setup printed no next steps: $(cat "$root/setup")"

# Outside a Wine prefix the backup has no registry keys: done in part (exit code 4).
code=0
run "$logger/ZORVEL_Backup" backup --to "$root/backups" >"$root/backup.out" 2>"$root/backup.err" || code=$?
archive=$(head -n 1 "$root/backup.out")
if [ "$code" -ne 4 ] || [ ! -f "$archive" ]; then
    fail "the backup through the link ended with exit code $code: $(cat "$root/backup.out" "$root/backup.err")"
# The listing is taken whole first: grep -q stops reading at the first match, and under pipefail the
# writer's broken pipe would fail the test.
elif ! unzip -tq "$archive" >/dev/null || ! grep -qi '^DB/Logs\.mdb$' <<<"$(unzip -Z1 "$archive")"; then
    fail "the backup $archive does not read back whole, or lacks DB/Logs.mdb"
else
    echo "check_package: a backup through the link made by setup: $(unzip -Z1 "$archive" | wc -l) entries"
fi

# The manual page, the desktop files, the metadata.
warnings=$(MANWIDTH=80 man --warnings -l "$root/pkg/usr/share/man/man1/ZORVEL_Backup.1.gz" 2>&1 >/dev/null) ||
    fail "man could not render the manual page"
[ -z "$warnings" ] || fail "man warns: $warnings"
for desktop in "$root/pkg/usr/share/applications/zorvel-backup.desktop" "${entries[0]}"; do
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate: $out"
    grep -q 'error' <<<"$out" && fail "desktop-file-validate: $out"
done
out=$(appstreamcli validate --no-net "$root/pkg/usr/share/metainfo/org.zorvel.backup.metainfo.xml" 2>&1) ||
    fail "appstreamcli validate: $out"

if ! run "$program" setup --remove "$logger" >"$root/remove" 2>&1; then
    fail "setup --remove failed: $(cat "$root/remove")"
fi
{ [ ! -e "$logger/ZORVEL_Backup" ] && [ ! -e "${entries[0]}" ]; } ||
    fail "setup --remove left the link or the menu entry"

if [ "$failures" -gt 0 ]; then
    echo "check_package: FAILED ($failures)" >&2
    exit 1
fi
echo "check_package: passed"
