// A rig for the create and restore commands on their own: no window, no Wine, no program. A logger
// folder and a backups folder of the test's own, the fake registry snapshot, a reporter that records
// what the command told, and archives made to order with python3's zipfile (any names, any methods).
//
// Header-only, like the other rigs.
#pragma once

#include "app/commands/command_steps.h"
#include "app/commands/reporter.h"
#include "tests/app/support/backup_rig.h"

#include <QProcess>

namespace app::testing {

// Records every word a command says, in order, with its kind.
class RecordingReporter : public Reporter {
public:
    void Done(const QString& text) override { said.append(QStringLiteral("done: ") + text); }
    void Incomplete(const QString& text) override { said.append(QStringLiteral("incomplete: ") + text); }
    void Status(const QString& text) override { statuses.append(text); }
    void BackupFolderChanged() override { ++folderChanges; }
    QStringList said;
    QStringList statuses;
    int folderChanges = 0;
};

// One entry of an archive made to order: its name, its bytes and how it is stored ("deflate", "store",
// "bzip2", "lzma").
struct MadeEntry {
    QString name;
    QByteArray bytes;
    QString method = QStringLiteral("deflate");
};

// Writes `entries` into a new archive at `path` with python3's zipfile; false when python failed.
inline bool MakeArchive(const QString& path, const std::vector<MadeEntry>& entries) {
    static const char* script =
        "import sys, zipfile, base64\n"
        "methods = {'deflate': zipfile.ZIP_DEFLATED, 'store': zipfile.ZIP_STORED, 'bzip2': zipfile.ZIP_BZIP2,"
        " 'lzma': zipfile.ZIP_LZMA}\n"
        "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
        "    for line in sys.stdin.read().splitlines():\n"
        "        name, method, data = line.split('\\t')\n"
        "        info = zipfile.ZipInfo(base64.b64decode(name).decode('utf-8'), (2024, 1, 2, 3, 4, 6))\n"
        "        info.compress_type = methods[method]\n"
        "        z.writestr(info, base64.b64decode(data))\n";
    QByteArray input;
    for (const MadeEntry& e : entries)
        input += e.name.toUtf8().toBase64() + '\t' + e.method.toLatin1() + '\t' + e.bytes.toBase64() + '\n';
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script), path});
    python.write(input);
    python.closeWriteChannel();
    return python.waitForFinished(60000) && python.exitStatus() == QProcess::NormalExit && python.exitCode() == 0;
}

struct CommandRig {
    testing_support::TempDir root;
    QString logger = Q(root / "Log/");
    QString backups = Q(root / "backups");
    fakes::RecordingRegistrySnapshot registry;
    RecordingReporter reporter;

    CommandRig() {
        QDir().mkpath(logger);
        QDir().mkpath(backups);
    }
};

}  // namespace app::testing
