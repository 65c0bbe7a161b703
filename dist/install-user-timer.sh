#!/usr/bin/env bash
# Installs the nightly backup as a systemd user timer:
#
#   dist/install-user-timer.sh LOGGER_FOLDER
#
# LOGGER_FOLDER is the ZORVEL_Log 3 folder that holds ZORVEL_Backup. The backups go to the folder the
# window last used (choose it once in the window). The units land in ~/.config/systemd/user; the timer
# is enabled and started. Remove with: systemctl --user disable --now zorvel-backup.timer
set -euo pipefail
HERE="$(cd "$(dirname "$0")" && pwd)"
[ $# -eq 1 ] || { echo "usage: $0 LOGGER_FOLDER" >&2; exit 2; }
PROGRAM="$(cd "$1" && pwd)/ZORVEL_Backup"
[ -x "$PROGRAM" ] || { echo "$PROGRAM is not there: put ZORVEL_Backup into the logger folder first" >&2; exit 1; }
UNITS="${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user"
mkdir -p "$UNITS"
sed "s|@PROGRAM@|$PROGRAM|" "$HERE/zorvel-backup.service" > "$UNITS/zorvel-backup.service"
cp "$HERE/zorvel-backup.timer" "$UNITS/zorvel-backup.timer"
${SYSTEMCTL:-systemctl} --user daemon-reload
${SYSTEMCTL:-systemctl} --user enable --now zorvel-backup.timer
echo "installed: $UNITS/zorvel-backup.service, $UNITS/zorvel-backup.timer"
