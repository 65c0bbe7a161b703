// The command line's commands; see command_line.h. Each command checks what the window checks before
// it (the logger folder, the backup folder, the guard), then runs the same command object as the window,
// reporting into the terminal.
#include "app/cli/command_line.h"

#include "app/backup_layout.h"
#include "app/cli/automatic.h"
#include "app/cli/backup_run.h"
#include "app/cli/interrupts.h"
#include "app/cli/run_checks.h"
#include "app/cli/terminal_reporter.h"
#include "app/commands/command_steps.h"
#include "app/commands/list_command.h"
#include "app/commands/restore_command.h"
#include "app/commands/run_lock.h"
#include "app/commands/verify_command.h"
#include "app/native_path.h"
#include "app/platform/services.h"
#include "app/startup_facts.h"
#include "app/version_stamp.h"
#include "archive/fs/fs.h"
#include "archive/host.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/writer/vcl_zip.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace app::cli {

namespace {

const QStringList kHelpWords = {QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("help"),
                                QStringLiteral("--version"), QStringLiteral("-v")};

constexpr char kHelp[] =
    "Usage: ZORVEL_Backup [COMMAND [OPTIONS]]\n"
    "\n"
    "Without a command the window opens. The logger folder is the folder this program is in.\n"
    "\n"
    "Commands:\n"
    "  backup [--to DIR] [--keep N] [--keep-daily D] [--keep-weekly W] [--keep-monthly M] [--dry-run]\n"
    "         [--copy-to DIR]... [--close-logger] [--wait SECONDS] [--notify] [--if-changed] [--full]\n"
    "      Make one backup of the logger folder in DIR (default: the backup folder the window\n"
    "      last used), verified before it is named. The new archive's path goes to standard output.\n"
    "      Files of the same name and size as in the newest backup of DIR are compared with it byte\n"
    "      for byte, and those that did not change are copied from it instead of compressed again;\n"
    "      the archive is the same, byte for byte. --full compresses every file anyway.\n"
    "      --if-changed makes no new backup when the newest backup of DIR holds exactly the files\n"
    "      and registry snapshots a new one would, each byte for byte: its path goes to standard\n"
    "      output, a line on standard error says it is still current, nothing is copied or deleted,\n"
    "      and `status` counts its age from then.\n"
    "      --keep N then deletes the oldest zorvel3_<date and time>.zip of DIR until N remain.\n"
    "      --keep-daily D, --keep-weekly W and --keep-monthly M keep the newest backup of each of the\n"
    "      last D days, W weeks and M months that have backups (and, with --keep N, the N newest), and\n"
    "      delete the other backups. --dry-run only prints which would go. They never delete the new\n"
    "      backup, read-only files or other names, and nothing at all after an incomplete backup.\n"
    "      --copy-to DIR (repeatable) puts a copy of the new backup into DIR as well, verified there;\n"
    "      a copy that cannot be made (folder missing, disk full) makes the run done in part, and the\n"
    "      other copies and the backup stay. The history options apply to each such folder too.\n"
    "      --notify: a backup that fails or is incomplete also shows a desktop notification, and\n"
    "      `status` reports the run (for timers and cron jobs).\n"
    "  list [--in DIR]\n"
    "      The backups of DIR (default: the backup folder the window last used), oldest first, one per\n"
    "      line: path, creation time, size in bytes, and whether the archive opens.\n"
    "  verify ARCHIVE...\n"
    "      Read every entry of each archive and check its CRC and size; each bad entry is reported.\n"
    "  restore ARCHIVE [--awards] [--callbook] [--logs] [--config] [--all] [--no-safety-backup]\n"
    "          [--close-logger] [--wait SECONDS]\n"
    "      Restore the chosen parts of ARCHIVE into the logger folder, as the window's Restore with\n"
    "      those boxes ticked; the registry is imported only with --config. At least one part is needed.\n"
    "      --all restores every file the backup holds (also files in DB that no part selects), all or\n"
    "      nothing, and then imports the registry.\n"
    "      Before anything is replaced, the logger folder as it is now is backed up beside ARCHIVE (or,\n"
    "      where that cannot be written, in ~/.local/share/ZORVEL_Backup/before-restore), so that the\n"
    "      restore can be undone; --no-safety-backup skips that.\n"
    "  watch [--max-age DAYS] [--always] [backup options]\n"
    "      Run until stopped (Ctrl-C, SIGTERM) and make one backup, as backup --if-changed does with\n"
    "      the same options, each time ZORVEL_Log 3 closes (2 seconds after its process ended);\n"
    "      with --always also when nothing changed. One line per backup goes to standard error. A\n"
    "      backup that fails or is incomplete shows a desktop notification, and so does, once, a\n"
    "      newest complete backup older than DAYS (default 7) that no run found current since. A\n"
    "      backup during which ZORVEL_Log 3 was started again is done in part; another follows when\n"
    "      it closes.\n"
    "  status [--in DIR] [--max-age DAYS]\n"
    "      The newest complete backup of DIR (default: the backup folder the window last used) and its\n"
    "      age; whether the nightly timer and the watcher are installed, and what their last backup did.\n"
    "      Exit code 6 when that backup is older than DAYS (default 7) or there is none; a backup\n"
    "      that a run with --if-changed (the watcher's) found still current counts from that run.\n"
    "  schedule [--nightly HH:MM] [--on-logger-exit] [--max-age DAYS] [--always] [backup options]\n"
    "      Write and start the systemd user units for this logger folder: a nightly backup at HH:MM\n"
    "      (made up at the next start after a night the machine was off), and/or the watcher. Without a\n"
    "      systemd user manager, nothing is written and the equivalent crontab lines are printed.\n"
    "  schedule --remove | --show\n"
    "      Stop and delete those units, or print them.\n"
    "\n"
    "While ZORVEL_Log 3 runs, backup and restore refuse to start; --close-logger asks it to close and\n"
    "waits up to 29 seconds for it to end. One backup or restore runs at a time on a logger folder and\n"
    "on a backup folder: a second one waits for the first (--wait SECONDS, default 60; 0 does not wait)\n"
    "and then gives up. Ctrl-C stops a backup or restore and undoes what it had begun.\n"
    "\n"
    "Options:\n"
    "  -h, --help       this text\n"
    "  -v, --version    the version, as the window's title shows it\n"
    "\n"
    "Exit codes:\n"
    "  0  done as asked\n"
    "  1  failed: nothing was done, or an archive is damaged (the reason is on standard error)\n"
    "  2  the command line is wrong\n"
    "  3  ZORVEL_Log 3 is running\n"
    "  4  done in part: the backup lacks something, or the restore left files as they were\n"
    "  5  another backup or restore was using the logger folder or the backup folder; nothing was done\n"
    "  6  status: the newest complete backup is older than --max-age days, or there is none\n";

int Backup(const QCommandLineParser& parser, const Context& ctx) {
    BackupOptions options;
    if (!ReadBackupOptions(parser, QStringLiteral("backup"), ctx.term, options)) return kExitUsage;
    if (parser.isSet(QStringLiteral("notify"))) return UnattendedBackup(options, ctx);
    return RunBackup(options, ctx).exitCode;
}

int List(const QCommandLineParser& parser, const Context& ctx) {
    if (!parser.positionalArguments().mid(1).isEmpty()) {
        ctx.term.Err(QStringLiteral("list: unexpected argument ") + parser.positionalArguments().value(1));
        return kExitUsage;
    }
    const QString folder = parser.isSet(QStringLiteral("in")) ? Absolute(parser.value(QStringLiteral("in")))
                                                              : ctx.storedBackupFolder;
    for (const BackupListing& backup : ListBackups(folder)) ctx.term.Out(ListingLine(backup));
    return kExitOk;
}

int Verify(const QCommandLineParser& parser, const Context& ctx) {
    const QStringList archives = parser.positionalArguments().mid(1);
    if (archives.isEmpty()) {
        ctx.term.Err(QStringLiteral("verify: name at least one archive"));
        return kExitUsage;
    }
    CommandLineHost host;
    QStringList failed;
    for (const QString& path : archives) {
        const VerifyReport report = VerifyBackup(path, &host);
        for (const QString& problem : report.problems) ctx.term.Err(path + QStringLiteral(": ") + problem);
        ctx.term.Out(VerifySummary(report));
        if (!report.Ok()) failed.append(path);
    }
    // With several archives the last line says which failed, so that a long run's verdict is not lost.
    if (archives.size() > 1 && !failed.isEmpty())
        ctx.term.Err(QStringLiteral("%1 of %2 archives failed the check: %3")
                         .arg(failed.size())
                         .arg(archives.size())
                         .arg(failed.join(QStringLiteral(", "))));
    return failed.isEmpty() ? kExitOk : kExitFailed;
}

int Restore(const QCommandLineParser& parser, const Context& ctx) {
    const QStringList archives = parser.positionalArguments().mid(1);
    if (archives.size() != 1) {
        ctx.term.Err(QStringLiteral("restore: name exactly one archive"));
        return kExitUsage;
    }
    const int waitSeconds = WaitSeconds(parser);
    if (waitSeconds < 0) {
        ctx.term.Err(QStringLiteral("restore: --wait needs a number of seconds, 0 or more"));
        return kExitUsage;
    }
    RestoreRequest request;
    request.archivePath = archives[0];
    request.loggerFolder = ctx.loggerFolder;
    request.awards = parser.isSet(QStringLiteral("awards"));
    request.database = parser.isSet(QStringLiteral("callbook"));
    request.logs = parser.isSet(QStringLiteral("logs"));
    request.configuration = parser.isSet(QStringLiteral("config"));
    request.everything = parser.isSet(QStringLiteral("all"));
    request.safetyBackup = !parser.isSet(QStringLiteral("no-safety-backup"));
    if (!request.AnyChosen()) {
        ctx.term.Err(QStringLiteral("restore: choose at least one of --awards, --callbook, --logs, --config, or --all"));
        return kExitUsage;
    }

    platform::LinuxServices services([&] { return ctx.loggerFolder; });
    RunLock lock(*services.Get().sleeper);
    // The safety backup goes beside the archive: that folder is written to, unless it is skipped.
    const QString archiveFolder = QFileInfo(request.archivePath).absolutePath();
    if (!LockFolders(lock, {{ctx.loggerFolder, true}, {archiveFolder, request.safetyBackup}}, waitSeconds, ctx.term))
        return kExitBusy;
    if (const int refused = LoggerMayBeTouched(ctx, parser.isSet(QStringLiteral("close-logger")), services)) return refused;
    if (!archive::fs::FileExists(Native(request.archivePath))) {
        ctx.term.Err(QStringLiteral("The backup %1 does not exist.").arg(request.archivePath));
        return kExitFailed;
    }

    CommandLineHost host;
    archive::TVCLUnZip unzip(&host);
    ConfigureRestoreReader(unzip);
    ctx.term.Follow(unzip);
    archive::TVCLZip safetyWriter(&host);
    ConfigureBackupWriter(safetyWriter);
    RestoreCommand command(unzip, *services.Get().registry, ctx.term, &safetyWriter);
    return command.Run(request).isEmpty() ? kExitOk : kExitIncomplete;
}

void AddCommandOptions(QCommandLineParser& parser, const QString& command) {
    if (command == QLatin1String("backup") || command == QLatin1String("watch") || command == QLatin1String("schedule"))
        AddBackupOptions(parser);
    if (command == QLatin1String("backup")) parser.addOption(QCommandLineOption(QStringLiteral("notify")));
    if (command == QLatin1String("list"))
        parser.addOption({QStringLiteral("in"), QStringLiteral("backup folder"), QStringLiteral("DIR")});
    if (command == QLatin1String("restore")) {
        for (const char* part : {"awards", "callbook", "logs", "config", "all", "no-safety-backup"})
            parser.addOption(QCommandLineOption(QString::fromLatin1(part)));
        parser.addOption(QCommandLineOption(QStringLiteral("close-logger")));
        parser.addOption({QStringLiteral("wait"), QStringLiteral("seconds to wait for another run"), QStringLiteral("SECONDS")});
    }
    AddAutomaticOptions(parser, command);
}

int RunCommand(const QString& command, const QCommandLineParser& parser, const Context& ctx) {
    TerminalReporter& term = ctx.term;
    try {
        // Debris of a run that died goes first, as when the window starts.
        RemoveStaleScratchFiles(ctx.loggerFolder, ctx.storedBackupFolder);
        if (command == QLatin1String("backup")) return Backup(parser, ctx);
        if (command == QLatin1String("list")) return List(parser, ctx);
        if (command == QLatin1String("verify")) return Verify(parser, ctx);
        if (command == QLatin1String("restore")) return Restore(parser, ctx);
        if (command == QLatin1String("watch")) return Watch(parser, ctx);
        if (command == QLatin1String("status")) return Status(parser, ctx);
        if (command == QLatin1String("schedule")) return Schedule(parser, ctx);
    } catch (const std::exception& e) {
        term.Err(QString::fromUtf8(e.what()));
        return kExitFailed;
    }
    term.Err(QStringLiteral("Unknown command ") + command + QStringLiteral(". Try: ZORVEL_Backup --help"));
    return kExitUsage;
}

}  // namespace

bool WantsCommandLine(const QStringList& arguments) {
    // Options of the toolkit's own (-platform, -style...) still open the window; any word is a command,
    // known or not.
    return arguments.size() > 1 && (!arguments[1].startsWith(QLatin1Char('-')) || kHelpWords.contains(arguments[1]));
}

int RunCommandLine(const QStringList& arguments) {
    TerminalReporter term(::isatty(STDERR_FILENO) == 1);
    const QString command = arguments.value(1);

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("help"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("version"));
    parser.addOption(help);
    parser.addOption(version);
    AddCommandOptions(parser, command);
    if (!parser.parse(arguments)) {
        term.Err(parser.errorText());
        term.Err(QStringLiteral("Try: ZORVEL_Backup --help"));
        return kExitUsage;
    }
    if (parser.isSet(help) || command == QLatin1String("help")) {
        term.Out(QString::fromLatin1(kHelp).chopped(1));
        return kExitOk;
    }
    // A link in the logger folder stands for the program there, as for the window.
    const StartupFacts facts = WorkOutStartupFacts(arguments, QDir::currentPath(), qEnvironmentVariable("PATH"),
                                                   QCoreApplication::applicationFilePath());
    if (parser.isSet(version)) {
        platform::BuildVersionInfo info;
        term.Out(ExtendedCaption(QString::fromLatin1(kProgramTitle), info, facts.executablePath));
        return kExitOk;
    }

    Context ctx{facts.executablePath, facts.loggerFolder, facts.rememberedBackupFolder, term};
    const Interrupts interrupts;
    const int result = RunCommand(command, parser, ctx);
    // The watcher's end by a signal is its ordinary end (it said so itself).
    if (Interrupts::Caught() && command != QLatin1String("watch")) {
        term.Err(QStringLiteral("Stopped by a signal; the backups and the logger's files were left as they were."));
        Interrupts::EndAsSignalled();
    }
    return result;
}


}  // namespace app::cli
