// The link and the menu entry of a logger folder; see setup_command.h.
#include "app/commands/setup_command.h"

#include "app/logger_guard.h"
#include "app/native_path.h"
#include "archive/fs/fs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace app {

namespace {

bool HasControlCharacter(const QString& text) {
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return true;
    return false;
}

// Whether two paths name one file (a hard link, or a link followed to its end).
bool SameFile(const QString& a, const QString& b) {
    struct stat sa {}, sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

QString ReadLink(const QString& link) {
    QByteArray target(4096, '\0');
    const ssize_t n = ::readlink(QFile::encodeName(link).constData(), target.data(), static_cast<size_t>(target.size()));
    return n < 0 ? QString() : QFile::decodeName(target.left(n));
}

QString SystemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

QString MarkerLine(const QString& folder) {
    return QString::fromLatin1(kMenuEntryFolderKey) + QLatin1Char('=') + DesktopStringValue(folder);
}

// What is missing for a logger folder: empty when ZORVEL_Log3.exe and DB are both there.
QString LoggerFolderLacks(const QString& folder) {
    const bool program = archive::fs::FileExists(Native(folder + QLatin1Char('/') + QLatin1String(kLoggerExecutable)));
    const bool db = archive::fs::DirectoryExists(Native(folder + QStringLiteral("/DB")));
    if (program && db) return {};
    if (!program && !db) return QStringLiteral("neither ZORVEL_Log3.exe nor a DB folder");
    return program ? QStringLiteral("no DB folder") : QStringLiteral("no ZORVEL_Log3.exe");
}

}  // namespace

QString UserApplicationsFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty()) data = QString::fromStdString(archive::fs::HomeDirectory()) + QStringLiteral("/.local/share");
    return data + QStringLiteral("/applications");
}

QString DesktopStringValue(const QString& text) {
    QString value;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        switch (c.unicode()) {
            case '\\': value += QStringLiteral("\\\\"); break;
            case '\n': value += QStringLiteral("\\n"); break;
            case '\t': value += QStringLiteral("\\t"); break;
            case '\r': value += QStringLiteral("\\r"); break;
            case ' ': value += i == 0 ? QStringLiteral("\\s") : QStringLiteral(" "); break;
            default: value += c;
        }
    }
    return value;
}

QString DesktopExecArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
        if (c == QLatin1Char('%')) quoted += QLatin1Char('%');  // a literal %, not a field code
    }
    quoted += QLatin1Char('"');
    return DesktopStringValue(quoted);
}

QString DesktopExecCommand(const QString& program) {
    if (!program.contains(QLatin1Char('%'))) return DesktopExecArgument(program);
    return QStringLiteral("/bin/sh -c ") + DesktopExecArgument(QStringLiteral("exec \"$0\"")) + QLatin1Char(' ') +
           DesktopExecArgument(program);
}

QString ShellWord(const QString& word) {
    static const QRegularExpression kPlain(QStringLiteral("^[A-Za-z0-9_/.,:+=@^-]+$"));
    if (kPlain.match(word).hasMatch()) return word;
    QString quoted = word;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString MenuEntryFileName(const QString& loggerFolder) {
    const QByteArray hash = QCryptographicHash::hash(loggerFolder.toUtf8(), QCryptographicHash::Sha256).toHex();
    return QStringLiteral("zorvel-backup-") + QString::fromLatin1(hash.left(12)) + QStringLiteral(".desktop");
}

QString MenuEntryText(const QString& loggerFolder, const QString& program) {
    return QStringLiteral("# Written by `ZORVEL_Backup setup` for the folder below; `ZORVEL_Backup setup --remove`\n"
                          "# with that folder removes it.\n"
                          "[Desktop Entry]\n"
                          "Type=Application\n"
                          "Version=1.4\n"
                          "Name=ZORVEL_Backup\n"
                          "GenericName=Logbook backup\n"
                          "Comment=Back up and restore the ZORVEL_Log 3 folder ") +
           DesktopStringValue(loggerFolder) + QStringLiteral("\nExec=") + DesktopExecCommand(program) +
           QStringLiteral("\n"
                          "Icon=zorvel-backup\n"
                          "Terminal=false\n"
                          "Categories=Utility;Archiving;HamRadio;\n"
                          "StartupWMClass=ZORVEL_Backup\n") +
           MarkerLine(loggerFolder) + QLatin1Char('\n');
}

SetupCommand::SetupCommand(QString program, QString applicationsFolder, std::function<void(const QString&)> out,
                           std::function<void(const QString&)> err)
    : program_(std::move(program)),
      applicationsFolder_(std::move(applicationsFolder)),
      out_(std::move(out)),
      err_(std::move(err)) {}

SetupCommand::Place SetupCommand::LinkPlace(const QString& link, QString* what) const {
    struct stat st {};
    if (::lstat(QFile::encodeName(link).constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? Place::Missing
                                                   : (*what = QStringLiteral("which cannot be read"), Place::Foreign);
    if (S_ISLNK(st.st_mode)) {
        const QString target = ReadLink(link);
        if (target == program_ || SameFile(link, program_)) return Place::Ours;
        *what = QStringLiteral("a link to ") + target;
        return Place::Foreign;
    }
    if (S_ISREG(st.st_mode) && SameFile(link, program_)) return Place::ProgramItself;
    *what = S_ISDIR(st.st_mode) ? QStringLiteral("a folder") : QStringLiteral("a file that is not a link to this program");
    return Place::Foreign;
}

SetupCommand::Place SetupCommand::MenuEntryPlace(const QString& file, const QString& folder) const {
    QFile entry(file);
    if (!entry.exists()) return Place::Missing;
    if (!entry.open(QIODevice::ReadOnly)) return Place::Foreign;
    const QStringList lines = QString::fromUtf8(entry.readAll()).split(QLatin1Char('\n'));
    return lines.contains(MarkerLine(folder)) ? Place::Ours : Place::Foreign;
}

ExitCode SetupCommand::Setup(const QString& folderArgument) {
    const QFileInfo info(folderArgument);
    if (!info.exists()) {
        err_(QStringLiteral("setup: the folder %1 does not exist.").arg(folderArgument));
        return kExitFailed;
    }
    if (!info.isDir()) {
        err_(QStringLiteral("setup: %1 is not a folder.").arg(folderArgument));
        return kExitFailed;
    }
    const QString folder = info.canonicalFilePath();
    if (const QString lacks = LoggerFolderLacks(folder); !lacks.isEmpty()) {
        err_(QStringLiteral("setup: %1 is not a ZORVEL_Log 3 folder: it holds %2. Name the folder that "
                            "ZORVEL_Log3.exe is in, such as ~/.wine/drive_c/ZORVEL_Log3.")
                 .arg(folder, lacks));
        return kExitFailed;
    }
    if (HasControlCharacter(folder)) {
        err_(QStringLiteral("setup: the path of %1 holds a control character (a line break or tab), which a menu "
                            "entry cannot hold; rename the folder first.")
                 .arg(folder));
        return kExitFailed;
    }

    // Everything that could stop setup is looked at before anything is changed.
    const QString link = folder + QLatin1Char('/') + QLatin1String(kProgramFileName);
    QString what;
    const Place linkPlace = LinkPlace(link, &what);
    if (linkPlace == Place::Foreign) {
        err_(QStringLiteral("setup: %1 is already there, %2, and was left as it is; nothing was done. To use this "
                            "program in that folder, delete it and run setup again.")
                 .arg(link, what));
        return kExitFailed;
    }
    const QString entryFile = applicationsFolder_ + QLatin1Char('/') + MenuEntryFileName(folder);
    if (MenuEntryPlace(entryFile, folder) == Place::Foreign) {
        err_(QStringLiteral("setup: %1 is already there and is not the menu entry setup made for %2; it was left as "
                            "it is, and nothing was done.")
                 .arg(entryFile, folder));
        return kExitFailed;
    }

    bool linkMade = false;
    if (linkPlace == Place::Missing) {
        if (::symlink(QFile::encodeName(program_).constData(), QFile::encodeName(link).constData()) != 0) {
            err_(QStringLiteral("setup: the link %1 could not be made: %2.").arg(link, SystemError(errno)));
            return kExitFailed;
        }
        linkMade = true;
    }
    // The entry starts the program through the folder's own path, whatever stands there.
    const QString text = MenuEntryText(folder, link);
    QFile existing(entryFile);
    const bool entryUnchanged = existing.open(QIODevice::ReadOnly) && existing.readAll() == text.toUtf8();
    if (!entryUnchanged && !WriteMenuEntry(entryFile, text)) {
        if (linkMade) QFile::remove(link);  // all or nothing
        return kExitFailed;
    }

    const QString run = ShellWord(link);
    out_(QStringLiteral("ZORVEL_Backup is set up for the ZORVEL_Log 3 folder %1:").arg(folder));
    if (linkPlace == Place::ProgramItself)
        out_(QStringLiteral("  the program:    %1 (the program itself)").arg(link));
    else
        out_(QStringLiteral("  the program:    %1 -> %2%3").arg(link, program_, linkMade ? QString() : QStringLiteral(" (was there)")));
    out_(QStringLiteral("  the menu entry: \"ZORVEL_Backup\", %1%2")
             .arg(entryFile, entryUnchanged ? QStringLiteral(" (was there)") : QString()));
    out_(QString());
    out_(QStringLiteral("Next steps:"));
    out_(QStringLiteral("  open the window from the menu, or with:      %1").arg(run));
    out_(QStringLiteral("  a backup each time ZORVEL_Log 3 closes:      %1 schedule --on-logger-exit --keep 14").arg(run));
    out_(QStringLiteral("  and/or a backup every night at 02:30:        %1 schedule --nightly 02:30 --keep 14").arg(run));
    out_(QStringLiteral("  every command and option:                    %1 --help, or man ZORVEL_Backup").arg(run));
    out_(QStringLiteral("  to take the link and the menu entry away:    ZORVEL_Backup setup --remove %1").arg(ShellWord(folder)));
    return kExitOk;
}

bool SetupCommand::WriteMenuEntry(const QString& file, const QString& text) {
    if (!QDir().mkpath(applicationsFolder_)) {
        err_(QStringLiteral("setup: the folder %1 could not be made.").arg(applicationsFolder_));
        return false;
    }
    // Replaced whole: a menu never reads half an entry.
    QSaveFile entry(file);
    if (!entry.open(QIODevice::WriteOnly) || entry.write(text.toUtf8()) < 0 || !entry.commit()) {
        err_(QStringLiteral("setup: the menu entry %1 could not be written: %2.").arg(file, entry.errorString()));
        return false;
    }
    return true;
}

ExitCode SetupCommand::Remove(const QString& folderArgument) {
    const QFileInfo info(folderArgument);
    // A folder that is gone still has its menu entry taken away.
    const QString folder = info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
    ExitCode result = kExitOk;
    bool removed = false;

    const QString link = folder + QLatin1Char('/') + QLatin1String(kProgramFileName);
    QString what;
    switch (LinkPlace(link, &what)) {
        case Place::Missing: break;
        case Place::Ours:
            if (QFile::remove(link)) {
                out_(QStringLiteral("Removed the link %1.").arg(link));
                removed = true;
            } else {
                err_(QStringLiteral("setup: the link %1 could not be removed.").arg(link));
                result = kExitFailed;
            }
            break;
        case Place::ProgramItself:
            err_(QStringLiteral("setup: %1 is this program itself, not a link setup made; it was left as it is.").arg(link));
            break;
        case Place::Foreign:
            err_(QStringLiteral("setup: %1 is %2, not a link setup made; it was left as it is.").arg(link, what));
            break;
    }

    const QString entryFile = applicationsFolder_ + QLatin1Char('/') + MenuEntryFileName(folder);
    switch (MenuEntryPlace(entryFile, folder)) {
        case Place::Missing: break;
        case Place::Ours:
            if (QFile::remove(entryFile)) {
                out_(QStringLiteral("Removed the menu entry %1.").arg(entryFile));
                removed = true;
            } else {
                err_(QStringLiteral("setup: the menu entry %1 could not be removed.").arg(entryFile));
                result = kExitFailed;
            }
            break;
        default:
            err_(QStringLiteral("setup: %1 is not the menu entry setup made for %2; it was left as it is.")
                     .arg(entryFile, folder));
    }
    if (!removed && result == kExitOk) out_(QStringLiteral("Nothing of setup's was there for %1.").arg(folder));
    return result;
}

}  // namespace app
