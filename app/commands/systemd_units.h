// The systemd user units and the crontab lines that run the program unattended, as text.
//
// Three units, all in the user's unit folder:
//   zorvel-backup.service        one `backup --notify` (oneshot), started by
//   zorvel-backup.timer          every night at the time asked for, Persistent= so a night the machine
//                                was off is made up at its next start
//   zorvel-backup-watch.service  `watch`, started with the user's manager, restarted when it fails
//
// ExecStart= is read by systemd's own rules (systemd.syntax(7), "Quoting"; systemd.service(5),
// "Command lines"): words are split at blanks; a word in double quotes may hold blanks, and C escapes
// are read inside it (\\ \" \n \t \xNN); "%" starts a specifier, so a plain one is "%%"; "$" starts an
// environment variable in an argument, so a plain one is "$$". Every word is written in double quotes
// with those escapes, whatever it holds. The executable's own path is different: systemd replaces no
// variable in it, and refuses a path holding a quote, a backslash or a control character outright. A
// program in a folder whose name holds one of those, or "$", is therefore started through
// `/bin/sh -c 'exec "$0" "$@"' PROGRAM ARGUMENTS...`, where its path is an ordinary argument and reaches
// the program unchanged as its argv[0] (from which the program takes its logger folder).
//
// Crontab lines run their command through /bin/sh. Each word is put in single quotes (a quote inside
// as '\''). cron itself turns every "%" not preceded by a backslash into a line break (crontab(5)) and
// drops that backslash, so each "%" leaves the quotes and is written as \% between them. A line break
// cannot be written in a crontab line at all.
#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

#include <optional>

namespace app {

inline constexpr char kBackupServiceUnit[] = "zorvel-backup.service";
inline constexpr char kBackupTimerUnit[] = "zorvel-backup.timer";
inline constexpr char kWatchServiceUnit[] = "zorvel-backup-watch.service";

// ${XDG_CONFIG_HOME:-$HOME/.config}/systemd/user, where a user's own units are read from.
QString UserUnitFolder();

// One word of an ExecStart= line, quoted.
QString ExecStartWord(const QString& word);
// The value of ExecStart= that runs `program` (an absolute path) with `arguments`.
QString ExecStartCommand(const QString& program, const QStringList& arguments);

// The three units' texts. `arguments` follow the program (the command word first).
QString BackupServiceUnit(const QString& program, const QStringList& arguments);
QString BackupTimerUnit(const QTime& nightly);
QString WatchServiceUnit(const QString& program, const QStringList& arguments);

// One word for /bin/sh, single-quoted, with every "%" written for cron (see above).
QString CrontabWord(const QString& word);
// `when` (five time fields, or "@reboot") and the command; nullopt when a word holds a line break.
std::optional<QString> CrontabLine(const QString& when, const QString& program, const QStringList& arguments);
// The time fields of a nightly line: "30 2 * * *" for 02:30.
QString CrontabNightly(const QTime& time);

}  // namespace app
