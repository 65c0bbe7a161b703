// The command line's commands; see command_line.h. Each command checks what the window checks before
// it (the logger folder, the backup folder, the guard), then runs the same command object as the window,
// reporting into the terminal.
#include "app/cli/command_line.h"

#include "app/backup_layout.h"
#include "app/cli/automatic.h"
#include "app/cli/backup_run.h"
#include "app/cli/interrupts.h"
#include "app/cli/run_checks.h"
#include "app/cli/setup.h"
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
#include "zb_help_text.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

namespace app::cli {

namespace {

const QStringList kHelpWords = {QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("help"),
                                QStringLiteral("--version"), QStringLiteral("-v")};

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
    AddSetupOptions(parser, command);
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
    // Setup is how a program outside any logger folder gets into one: it needs none.
    if (command == QLatin1String("setup") && !parser.isSet(version)) return Setup(parser, term);
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
