#!/usr/bin/env bash
# Set-up, build, and start the program in a logger folder: ./run.sh [LOGGER_FOLDER]
#
# The program belongs in the logger's own folder (it refuses to run anywhere else), so it is copied there,
# together with the close-request helper when the build made one, and started from there. The copies keep
# the build's modification time: the window's caption shows it as the build time.
#
# Without an argument a demo logger folder (sample databases, settings, a stand-in ZORVEL_Log3.exe) is made
# the first time and used from then on. When wine is installed it lies inside a Wine prefix of its own,
# ~/ZORVEL_Log3-demo-wine/drive_c/ZORVEL_Log3, made once with wineboot and holding the logger's two registry
# keys with sample values, so that a demo backup holds the registry snapshot as a real user's does.
# Without wine it is ~/ZORVEL_Log3-demo, and its backups go without the snapshot.
set -euo pipefail
cd "$(dirname "$0")"

if [ $# -gt 1 ]; then
  echo "usage: ./run.sh [LOGGER_FOLDER]" >&2
  exit 2
fi
if [ $# -eq 1 ] && [ ! -d "$1" ]; then
  echo "run.sh: logger folder not found: $1" >&2
  exit 1
fi

# The window needs a display: say so before the long build, with advice that shows the window.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<EOF
run.sh: there is no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set).
  - on a desktop: run ./run.sh${1:+ $1} in a terminal of the desktop session;
  - over SSH: log in with X forwarding (ssh -X) and run ./run.sh${1:+ $1} there;
  - with no display at all: QT_QPA_PLATFORM=vnc ./run.sh${1:+ $1}, then point a VNC viewer at port 5900 of
    this machine.
Backups without a window: ./ZORVEL_Backup --help in the logger folder lists the commands.
EOF
  exit 1
fi

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ZORVEL_Backup -j2

# The demo's Wine prefix: made once with wineboot; the logger's two keys get sample values once.
wine_demo() {
  local prefix=$1
  export WINEPREFIX="$prefix" WINEDEBUG=-all
  # No Mono or Gecko installer prompts, no menu entries or file associations in the user's home.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/user.reg" ] || [ ! -d "$prefix/drive_c" ]; then
    echo "run.sh: making the demo's Wine prefix $prefix (once; this takes a minute)"
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 || wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w 2>/dev/null || true
    if [ ! -f "$prefix/system.reg" ] || [ ! -f "$prefix/user.reg" ] || [ ! -d "$prefix/drive_c" ]; then
      echo "run.sh: wineboot could not make the Wine prefix $prefix" >&2
      unset WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
      return 1
    fi
  fi
  if ! wine reg query 'HKCU\Software\ZORVEL_log3' >/dev/null 2>&1; then
    wine reg add 'HKCU\Software\ZORVEL_log3\Station' /v Call /d OK1XYZ /f >/dev/null
    wine reg add 'HKCU\Software\ZORVEL_log3\Station' /v Locator /d JO70FD /f >/dev/null
    wine reg add 'HKCU\Software\ZORVEL_log3\Window' /v Left /t REG_DWORD /d 100 /f >/dev/null
    wine reg add 'HKCU\Software\ZORVEL_log3\Window' /v Top /t REG_DWORD /d 80 /f >/dev/null
  fi
  if ! wine reg query 'HKCU\Software\ZORVEL_server' >/dev/null 2>&1; then
    wine reg add 'HKCU\Software\ZORVEL_server' /v Port /t REG_DWORD /d 7300 /f >/dev/null
    wine reg add 'HKCU\Software\ZORVEL_server' /v Host /d localhost /f >/dev/null
  fi
  # The registry reaches user.reg when the prefix's wineserver ends.
  wineserver -w 2>/dev/null || true
  unset WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
}

if [ $# -eq 1 ]; then
  folder=$1
elif command -v wine >/dev/null 2>&1 && wine_demo "${HOME:?HOME is not set}/ZORVEL_Log3-demo-wine"; then
  folder="$HOME/ZORVEL_Log3-demo-wine/drive_c/ZORVEL_Log3"
  [ -d "$folder" ] || python3 scripts/make_demo_logger.py "$folder"
else
  folder="${HOME:?HOME is not set}/ZORVEL_Log3-demo"
  [ -d "$folder" ] || python3 scripts/make_demo_logger.py "$folder"
  echo "run.sh: the demo has no Wine prefix: registry snapshots need the logger's Wine prefix, so its backups go without them"
fi
folder=$(cd "$folder" && pwd)

# install replaces the file (a copy still running keeps its own) and -p keeps the build's time.
install -p -m 755 build/ZORVEL_Backup "$folder/"
if [ -f build/zb_close_window.exe ]; then
  install -p -m 755 build/zb_close_window.exe "$folder/"
fi

cd "$folder"
exec ./ZORVEL_Backup
