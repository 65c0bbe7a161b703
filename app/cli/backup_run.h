// One backup as the command line makes it: the options read, the folder locks, the guard, the create
// command reporting into the terminal, and the old backups deleted as --keep and the calendar options
// say. `backup` runs it once; the watcher runs it each time the logger closes; `schedule` reads the
// same options to write them into the units that will run it later.
#pragma once

#include "app/cli/context.h"
#include "app/commands/retention.h"
#include "app/commands/run_lock.h"

#include <QCommandLineParser>
#include <QStringList>

namespace app {
struct BackupWatch;
}

namespace app::cli {

struct BackupOptions {
    QString folder;  // absolute; empty: the folder the window last used
    HistoryToKeep history;
    bool dryRun = false;
    bool closeLogger = false;
    int waitSeconds = kRunLockWaitSeconds;
    bool waitGiven = false;
    QStringList copyFolders;  // --copy-to, absolute
    bool full = false;        // --full: compress every file, carry nothing over from the last backup
    bool ifChanged = false;   // --if-changed: no new backup when the newest one still holds the same files

    // The options again as a command line would give them (--to DIR --keep N ...).
    QStringList Arguments() const;
};

// Adds the backup options to a parser.
void AddBackupOptions(QCommandLineParser& parser);

// Reads the backup options given to `command`; false after saying on standard error what is wrong.
bool ReadBackupOptions(const QCommandLineParser& parser, const QString& command, TerminalReporter& term,
                       BackupOptions& options);

struct BackupResult {
    int exitCode = 0;
    QString archivePath;  // the backup made (or, unchanged, the one still current); empty when none
    bool unchanged = false;  // --if-changed found nothing changed: no backup was made
};

// Makes one backup. `watch`, when given, is asked while it works and before old backups go (see
// BackupWatch). Errors the create command raises go on (the caller tells them).
BackupResult RunBackup(const BackupOptions& options, const Context& ctx, const BackupWatch* watch = nullptr);

}  // namespace app::cli
