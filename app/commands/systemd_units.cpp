// Unit texts and crontab lines; see systemd_units.h for the quoting rules followed here.
#include "app/commands/systemd_units.h"

#include "archive/fs/fs.h"

#include <algorithm>

namespace app {

namespace {

// Characters systemd refuses in an executable's path, or would read in it otherwise than as written.
bool ExecutablePathNeedsShell(const QString& path) {
    for (const QChar c : path) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) return true;
        if (c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('\\') || c == QLatin1Char('$')) return true;
    }
    return false;
}

const char kHeader[] =
    "# Written by `ZORVEL_Backup schedule`; `ZORVEL_Backup schedule --remove` removes it, and running\n"
    "# `ZORVEL_Backup schedule` again writes it anew.\n";

}  // namespace

QString UserUnitFolder() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty()) config = QString::fromStdString(archive::fs::HomeDirectory()) + QStringLiteral("/.config");
    return config + QStringLiteral("/systemd/user");
}

QString ExecStartWord(const QString& word) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : word) {
        switch (c.unicode()) {
            case '\\': quoted += QStringLiteral("\\\\"); break;
            case '"': quoted += QStringLiteral("\\\""); break;
            case '%': quoted += QStringLiteral("%%"); break;
            case '$': quoted += QStringLiteral("$$"); break;
            case '\n': quoted += QStringLiteral("\\n"); break;
            case '\t': quoted += QStringLiteral("\\t"); break;
            default:
                if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                    quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
                else
                    quoted += c;
        }
    }
    return quoted + QLatin1Char('"');
}

QString ExecStartCommand(const QString& program, const QStringList& arguments) {
    QStringList words;
    if (ExecutablePathNeedsShell(program)) {
        words << QStringLiteral("/bin/sh") << QStringLiteral("-c") << ExecStartWord(QStringLiteral("exec \"$0\" \"$@\""))
              << ExecStartWord(program);
    } else {
        // Specifiers are resolved in the executable's path too, so its "%" is doubled like any other.
        words << ExecStartWord(program);
    }
    for (const QString& argument : arguments) words << ExecStartWord(argument);
    return words.join(QLatin1Char(' '));
}

QString BackupServiceUnit(const QString& program, const QStringList& arguments) {
    return QString::fromLatin1(kHeader) +
           QStringLiteral("# One unattended backup of the ZORVEL_Log 3 folder that ZORVEL_Backup lives in, started by\n"
                          "# zorvel-backup.timer. A run that fails or is incomplete shows as failed in\n"
                          "# `systemctl --user status zorvel-backup` and says why in a desktop notification and in\n"
                          "# `journalctl --user -u zorvel-backup`.\n"
                          "[Unit]\n"
                          "Description=ZORVEL_Backup: back up the ZORVEL_Log 3 folder\n"
                          "\n"
                          "[Service]\n"
                          "Type=oneshot\n"
                          "ExecStart=") +
           ExecStartCommand(program, arguments) +
           QStringLiteral("\n"
                          "Nice=10\n"
                          "IOSchedulingClass=idle\n");
}

QString BackupTimerUnit(const QTime& nightly) {
    const QString at = nightly.toString(QStringLiteral("HH:mm"));
    return QString::fromLatin1(kHeader) +
           QStringLiteral("# Starts zorvel-backup.service every night at %1; a night missed while the machine was off\n"
                          "# is made up at its next start.\n"
                          "[Unit]\n"
                          "Description=Nightly ZORVEL_Backup of the ZORVEL_Log 3 folder\n"
                          "\n"
                          "[Timer]\n"
                          "OnCalendar=*-*-* %1:00\n"
                          "Persistent=true\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=timers.target\n")
               .arg(at);
}

QString WatchServiceUnit(const QString& program, const QStringList& arguments) {
    return QString::fromLatin1(kHeader) +
           QStringLiteral("# Watches for ZORVEL_Log 3 to close and then backs its folder up, from the start of the\n"
                          "# user's service manager on; what each backup did is in `journalctl --user -u\n"
                          "# zorvel-backup-watch`, and a failed or incomplete one shows a desktop notification.\n"
                          "[Unit]\n"
                          "Description=ZORVEL_Backup: back up the ZORVEL_Log 3 folder each time ZORVEL_Log 3 closes\n"
                          "\n"
                          "[Service]\n"
                          "Type=simple\n"
                          "ExecStart=") +
           ExecStartCommand(program, arguments) +
           QStringLiteral("\n"
                          "Restart=on-failure\n"
                          "RestartSec=30\n"
                          "Nice=10\n"
                          "IOSchedulingClass=idle\n"
                          "\n"
                          "[Install]\n"
                          "WantedBy=default.target\n");
}

QString CrontabWord(const QString& word) {
    QString quoted = QStringLiteral("'");
    for (const QChar c : word) {
        if (c == QLatin1Char('\''))
            quoted += QStringLiteral("'\\''");
        else if (c == QLatin1Char('%'))
            quoted += QStringLiteral("'\\%'");
        else
            quoted += c;
    }
    return quoted + QLatin1Char('\'');
}

std::optional<QString> CrontabLine(const QString& when, const QString& program, const QStringList& arguments) {
    QStringList words{when, CrontabWord(program)};
    for (const QString& argument : arguments) {
        // Option names and numbers read the same unquoted; only what may hold anything is quoted.
        const bool plain = !argument.isEmpty() && std::all_of(argument.begin(), argument.end(), [](QChar c) {
            return (c.isLetterOrNumber() && c.unicode() < 0x80) || c == QLatin1Char('-') || c == QLatin1Char(':');
        });
        words << (plain ? argument : CrontabWord(argument));
    }
    for (const QString& word : words)
        if (word.contains(QLatin1Char('\n')) || word.contains(QLatin1Char('\r'))) return std::nullopt;
    return words.join(QLatin1Char(' '));
}

QString CrontabNightly(const QTime& time) {
    return QStringLiteral("%1 %2 * * *").arg(time.minute()).arg(time.hour());
}

}  // namespace app
