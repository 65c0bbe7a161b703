#!/usr/bin/env bash
# Set-up, build, and start the program in a logger folder: ./run.sh [LOGGER_FOLDER]
#
# The program belongs in the logger's own folder (it refuses to run anywhere else), so it is copied there,
# together with the close-request helper when the build made one, and started from there. Without an
# argument a demo logger folder, ~/ZORVEL_Log3-demo, is made the first time (sample databases, settings,
# a stand-in ZORVEL_Log3.exe) and used from then on.
set -euo pipefail
cd "$(dirname "$0")"

if [ $# -gt 1 ]; then
  echo "usage: ./run.sh [LOGGER_FOLDER]" >&2
  exit 2
fi
if [ $# -eq 1 ]; then
  folder=$1
  if [ ! -d "$folder" ]; then
    echo "run.sh: logger folder not found: $folder" >&2
    exit 1
  fi
else
  folder="${HOME:?HOME is not set}/ZORVEL_Log3-demo"
fi

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ZORVEL_Backup -j2

if [ $# -eq 0 ] && [ ! -d "$folder" ]; then
  python3 scripts/make_demo_logger.py "$folder"
fi
folder=$(cd "$folder" && pwd)

cp build/ZORVEL_Backup "$folder/"
if [ -f build/zb_close_window.exe ]; then
  cp build/zb_close_window.exe "$folder/"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display to show the window on (DISPLAY and WAYLAND_DISPLAY are not set); start it from a desktop session, or try: xvfb-run -a ./run.sh${1:+ $1}" >&2
  exit 1
fi
cd "$folder"
exec ./ZORVEL_Backup
