#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the interop oracles and the benchmarks need.
# Idempotent: when everything is already present it does nothing and touches no network.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libglx-dev libopengl-dev libvulkan-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  # interop oracles: other ZIP tools and python's zipfile/zlib
  zip unzip p7zip-full python3
  # widgets under a virtual display, and fonts so labels have real metrics
  xvfb xauth fonts-dejavu-core
  # screenshots of the window under Xvfb (import)
  imagemagick
  # the logger runs under Wine: registry snapshots are taken with its regedit
  wine wine64
  # the automatic backups: a private session bus for the notification tests, and a real systemd user
  # manager and systemd-analyze for the units that `schedule` writes (unshare and nsenter come with
  # util-linux)
  dbus-daemon systemd util-linux
  # optional helpers: the Win32 close-request helper and the fuzzers
  gcc-mingw-w64-x86-64 clang libclang-rt-dev
  # the engine as a Windows program: the cross compiler with posix threads (GoogleTest is built from
  # the googletest sources above with it) and Wine to run its tests
  g++-mingw-w64-x86-64-posix
  # reference codecs for benchmarks and test oracles only (never linked into the product)
  zlib1g-dev libdeflate-dev
  # peak-memory figures for the benchmarks
  time
  # system calls per extracted file, counted in a test and in bench/many_files_compare.sh
  strace
  # the Debian package (CPack finds the program's libraries with file and dpkg-shlibdeps) and its checks
  # (scripts/check_package.sh): lintian, the manual page, the desktop files (validated, and read back by
  # GLib's launcher gio), the AppStream metadata
  file dpkg-dev lintian man-db groff-base desktop-file-utils libglib2.0-bin appstream
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
