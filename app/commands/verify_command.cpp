// Verifying a backup; see verify_command.h.
#include "app/commands/verify_command.h"

#include "app/native_path.h"
#include "archive/reader/archive_check.h"
#include "archive/records/printable_name.h"

namespace app {

VerifyReport VerifyBackup(const QString& archivePath, archive::Host* host) {
    VerifyReport report;
    report.archive = archivePath;
    const archive::CheckResult result = archive::CheckArchive(Native(archivePath), host);
    report.entries = static_cast<int>(result.entries.size());
    report.opened = result.opened;
    for (const archive::CheckProblem& problem : result.problems) {
        if (!problem.unread) report.damaged = true;
        const QString what = QString::fromStdString(problem.what);
        report.problems.append(problem.entry.empty() ? what
                                                    : QString::fromStdString(archive::PrintableName(problem.entry)) +
                                                          QStringLiteral(": ") + what);
    }
    return report;
}

QString VerifySummary(const VerifyReport& report) {
    if (report.Ok()) return QStringLiteral("%1: OK, %2 entries").arg(report.archive).arg(report.entries);
    if (!report.opened) return report.archive + (report.damaged ? QStringLiteral(": does not open") : QStringLiteral(": cannot be checked"));
    return report.archive + (report.damaged ? QStringLiteral(": damaged") : QStringLiteral(": cannot be checked"));
}

}  // namespace app
