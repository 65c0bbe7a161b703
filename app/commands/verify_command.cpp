// Verifying a backup; see verify_command.h.
#include "app/commands/verify_command.h"

#include "app/native_path.h"
#include "archive/reader/archive_check.h"

namespace app {

VerifyReport VerifyBackup(const QString& archivePath, archive::Host* host) {
    VerifyReport report;
    report.archive = archivePath;
    const archive::CheckResult result = archive::CheckArchive(Native(archivePath), host);
    report.entries = static_cast<int>(result.entries.size());
    for (const archive::CheckProblem& problem : result.problems) {
        const QString what = QString::fromStdString(problem.what);
        report.problems.append(problem.entry.empty() ? what : QString::fromStdString(problem.entry) + QStringLiteral(": ") + what);
    }
    return report;
}

QString VerifySummary(const VerifyReport& report) {
    return report.Ok() ? QStringLiteral("%1: OK, %2 entries").arg(report.archive).arg(report.entries)
                       : report.archive + QStringLiteral(": damaged");
}

}  // namespace app
