#!/usr/bin/env bash
# Installs the nightly backup (02:30, keeping the newest 14) as a systemd user timer:
#
#   dist/install-user-timer.sh LOGGER_FOLDER
#
# LOGGER_FOLDER is the ZORVEL_Log 3 folder that holds ZORVEL_Backup. This is `ZORVEL_Backup schedule`,
# which writes the units for that folder, enables and starts the timer, and without a systemd user
# manager prints the crontab line instead (README, "Automatic backups"). SYSTEMCTL, when set, names the
# program that stands in for systemctl. Remove with: LOGGER_FOLDER/ZORVEL_Backup schedule --remove
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 LOGGER_FOLDER" >&2; exit 2; }
PROGRAM="$(cd "$1" && pwd)/ZORVEL_Backup"
[ -x "$PROGRAM" ] || { echo "$PROGRAM is not there: put ZORVEL_Backup into the logger folder first" >&2; exit 1; }
exec "$PROGRAM" schedule --nightly 02:30 --keep 14
