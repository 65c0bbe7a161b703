#!/usr/bin/env bash
# Set-up, build, and start the program: ./run.sh [LOGGER_FOLDER]
set -euo pipefail
cd "$(dirname "$0")"
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target ZORVEL_Backup
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "run.sh: no display (DISPLAY is not set); start it from a desktop session or under xvfb-run." >&2
  exit 1
fi
exec ./build/ZORVEL_Backup
