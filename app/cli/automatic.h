// The command line's automatic work: `watch` (a backup each time the logger closes), `backup --notify`
// (a backup whose failure shows as a desktop notification), `status` (how recent the backups are, and
// what the automatic backups did) and `schedule` (the units that run them).
#pragma once

#include "app/cli/backup_run.h"

namespace app::cli {

// Adds the options of `watch`, `status` and `schedule` to a parser (other commands: none).
void AddAutomaticOptions(QCommandLineParser& parser, const QString& command);

// `backup --notify`: one backup, then the notification when it failed or is incomplete, and the record
// of the run for `status`.
int UnattendedBackup(const BackupOptions& options, const Context& ctx);

int Watch(const QCommandLineParser& parser, const Context& ctx);
int Status(const QCommandLineParser& parser, const Context& ctx);
int Schedule(const QCommandLineParser& parser, const Context& ctx);

}  // namespace app::cli
