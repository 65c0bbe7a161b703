// A rig for the create and restore commands end to end: a logger folder with the files a logger keeps
// (databases with companions, a hidden and an extension-less file, settings of every listed kind, files
// and folders that must stay out of a backup), placed wherever the test wants it -- inside a real Wine
// prefix's drive_c for the tests that take real registry snapshots -- a backups folder, and the real
// window over both, with the fakes of WindowRig for the boxes and the guard.
//
// Archives are read back with the oracles only: `unzip -Z1` for the entry list, python3's zipfile for
// every entry's bytes and its CRC check.
//
// Header-only on purpose: every test executable includes it without a build rule of its own.
#pragma once

#include "app/platform/qt_process_runner.h"
#include "app/platform/wine_prefix.h"
#include "app/platform/wine_registry_snapshot.h"
#include "tests/app/support/window_rig.h"
#include "tests/app/support/wine_test_prefix.h"
#include "tests/support/zip_builder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QPushButton>

#include <memory>

namespace app::testing {

// The logger folder's files relative to it, with their bytes.
using Tree = QMap<QString, QByteArray>;

inline QByteArray Bytes(const std::string& s) { return QByteArray(s.data(), static_cast<qsizetype>(s.size())); }

// What a logger keeps, and what a backup must leave out (a.data, Help.chm, the executable, files in
// subfolders, anything in tmp).
inline Tree LoggerFiles() {
    using testing_support::RandomBytes;
    using testing_support::TextBytes;
    Tree t;
    t["DB/Awards.mdb"] = Bytes(TextBytes(180000, 1));
    t["DB/Awards.ldb"] = Bytes(RandomBytes(640, 2));
    // Large enough for the compressor to share it out among its workers.
    t["DB/DB.mdb"] = Bytes(TextBytes(2600000, 3) + RandomBytes(20000, 4));
    t["DB/Logs.mdb"] = Bytes(TextBytes(300000, 5));
    t["DB/Logs.ldb"] = Bytes(RandomBytes(512, 6));
    t["DB/.Lock"] = Bytes(TextBytes(100, 7));  // hidden
    t["DB/CALLS"] = Bytes(TextBytes(5000, 8));  // no extension
    t["DB/Old/Logs.mdb"] = Bytes(TextBytes(7000, 9));
    t["Config.ini"] = "[Main]\r\nCall=OE1ABC\r\n";
    t["LanguageFile.ini"] = "[Language]\r\nName=English\r\n";
    t["LanguageFileEnglish.lng"] = Bytes(TextBytes(3000, 10));
    t["Card.qsl"] = Bytes(TextBytes(800, 11));
    t["Award.aal"] = Bytes(TextBytes(900, 12));
    t["Bands.dat"] = Bytes(TextBytes(400, 13));
    t["ReadMe.txt"] = Bytes(TextBytes(2500, 14));
    t["Notes.md"] = "# Notes\n";
    t["Skin.lyr"] = Bytes(RandomBytes(300, 15));
    t["Rig.sys"] = Bytes(RandomBytes(200, 16));
    t["a.data"] = "not a .dat file";
    t["Help.chm"] = Bytes(RandomBytes(1000, 17));
    t["ZORVEL_Log3.exe"] = "MZ stand-in";
    t["Sub/x.txt"] = "in a subfolder";
    t["Sub/y.ini"] = "in a subfolder";
    return t;
}

// The entries a backup of LoggerFiles() holds, besides the two registry snapshots.
inline QStringList BackedUpFiles() {
    return {"DB/Awards.mdb", "DB/Awards.ldb", "DB/DB.mdb", "DB/Logs.mdb", "DB/Logs.ldb", "DB/.Lock", "DB/CALLS",
            "Config.ini", "LanguageFile.ini", "LanguageFileEnglish.lng", "Card.qsl", "Award.aal", "Bands.dat",
            "ReadMe.txt", "Notes.md", "Skin.lyr", "Rig.sys"};
}

// A small archive that opens, to stand for an old backup.
inline std::string SmallArchive() { return testing_support::ZipBuilder().Stored("DB/Logs.mdb", "old").Build(); }

inline void WriteTree(const QString& folder, const Tree& tree) {
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        testing_support::WriteFile((folder + it.key()).toStdString(), it.value().toStdString());
}

inline QByteArray FileBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Every file below `folder` (hidden ones included), relative, sorted.
inline QStringList FilesBelow(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) files.append(QDir(folder).relativeFilePath(it.next()));
    files.sort();
    return files;
}

// The plain file names directly in `folder` (hidden ones included), sorted.
inline QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

inline QString RunOracle(const QString& program, const QStringList& arguments, int* exitCode = nullptr) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(120000);
    if (exitCode) *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The entry names as `unzip -Z1` lists them, in archive order.
inline QStringList UnzipEntries(const QString& archive) {
    int code = -1;
    const QString out = RunOracle(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive}, &code);
    if (code != 0) return {QStringLiteral("<unzip -Z1 failed with %1>").arg(code)};
    return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// Every entry's bytes as python3's zipfile reads them (which checks each CRC); an entry
// "<error>" holds python's complaint when the archive cannot be read.
inline Tree PythonEntries(const QString& archive) {
    static const char* script =
        "import sys, zipfile, base64\n"
        "try:\n"
        "    with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "        bad = z.testzip()\n"
        "        if bad: print('<error>\\t' + base64.b64encode(('bad CRC: ' + bad).encode()).decode())\n"
        "        for i in z.infolist():\n"
        "            print(i.filename + '\\t' + base64.b64encode(z.read(i)).decode())\n"
        "except Exception as e:\n"
        "    print('<error>\\t' + base64.b64encode(str(e).encode()).decode())\n";
    Tree entries;
    const QString out = RunOracle(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script), archive});
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const qsizetype tab = line.lastIndexOf(QLatin1Char('\t'));
        entries[line.left(tab)] = QByteArray::fromBase64(line.mid(tab + 1).toLatin1());
    }
    return entries;
}

// Where an entry's compressed data starts and how long it is, from python3's zipfile.
inline std::pair<qint64, qint64> EntryData(const QString& archive, const QString& name) {
    static const char* script =
        "import sys, zipfile, struct\n"
        "with zipfile.ZipFile(sys.argv[1]) as z:\n"
        "    i = z.getinfo(sys.argv[2])\n"
        "    with open(sys.argv[1], 'rb') as f:\n"
        "        f.seek(i.header_offset)\n"
        "        h = f.read(30)\n"
        "    n, e = struct.unpack('<HH', h[26:30])\n"
        "    print(i.header_offset + 30 + n + e, i.compress_size)\n";
    const QStringList out =
        RunOracle(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script), archive, name})
            .split(QLatin1Char(' '));
    if (out.size() != 2) return {-1, -1};
    return {out[0].toLongLong(), out[1].trimmed().toLongLong()};
}

// ---- the logger's registry in a real Wine prefix -------------------------------------------------------

inline const QString kLogKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\ZORVEL_log3");
inline const QString kServerKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\ZORVEL_server");
inline const QString kOperator = QStringLiteral("J\u00fcrgen \u00d8stergaard \u03a9");

// Keeps the prefix's wineserver running until the prefix is taken down, so that the many short Wine
// runs of a test neither pay for its start nor meet one that is on its way out.
inline void KeepWineServer(fakes::WineTestPrefix& wine) {
    const QString server = QStandardPaths::findExecutable(QStringLiteral("wineserver"));
    if (!server.isEmpty()) wine.Run(server, {QStringLiteral("-p")}, 30000);
}

// Sets both keys as a logger would have them: plain and non-ASCII strings, a number, a subkey.
// Returns the first command that failed, or an empty string.
inline QString SetLoggerKeys(fakes::WineTestPrefix& wine) {
    const QList<QStringList> adds = {
        {"HKCU\\Software\\ZORVEL_log3", "/v", "Call", "/d", "OE1ABC"},
        {"HKCU\\Software\\ZORVEL_log3", "/v", "Operator", "/d", kOperator},
        {"HKCU\\Software\\ZORVEL_log3\\TfmEditNewQso", "/v", "Left", "/t", "REG_DWORD", "/d", "518"},
        {"HKCU\\Software\\ZORVEL_server", "/v", "Port", "/t", "REG_DWORD", "/d", "7300"},
        {"HKCU\\Software\\ZORVEL_server", "/v", "Host", "/d", "cluster.example.org"},
    };
    // On a loaded machine a `wine reg` run now and then fails for no reason of its own: each is tried
    // three times.
    for (QStringList add : adds) {
        add = QStringList{"reg", "add"} + add + QStringList{"/f"};
        bool added = false;
        for (int attempt = 0; attempt < 3 && !added; ++attempt) {
            const auto out = wine.Wine(add);
            added = out.finished && out.exitCode == 0;
        }
        if (!added) return add.join(QLatin1Char(' '));
    }
    return {};
}

// `wine reg query key /v value`: the output, or empty when the value is not there (asked three times).
inline QString QueryValue(fakes::WineTestPrefix& wine, const QString& key, const QString& value) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto out = wine.Wine({"reg", "query", key, "/v", value});
        if (out.finished && out.exitCode == 0) return QString::fromUtf8(out.out);
    }
    return {};
}

// A UTF-16 text with its byte-order mark, as the registry editor exports; empty without the mark.
inline QString Utf16Text(const QByteArray& bytes) {
    if (!bytes.startsWith("\xff\xfe")) return {};
    const QByteArray body = bytes.mid(2);
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(body.constData()), body.size() / 2);
}


// The key as the registry editor exports it (the only way to read a non-ASCII value back intact:
// `reg query` prints in the console's code page).
inline QString ExportedKey(fakes::WineTestPrefix& wine, const QString& key) {
    const QString file = wine.Scratch() + QStringLiteral("/query.reg");
    QFile::remove(file);
    wine.Wine({QStringLiteral("regedit"), QStringLiteral("/E"), file, key});
    return Utf16Text(FileBytes(file));
}

// The window over a logger folder placed at `loggerFolder` (ending in '/'), with a backups folder.
// The window's executable is "ZORVEL_Backup" in the logger folder; the stored backup folder is the
// backups folder, so the window starts showing it.
class BackupRig {
public:
    // Empty paths take the rig's own temporary logger folder and backups folder.
    explicit BackupRig(const QString& loggerFolder = {}, const QString& backupFolder = {})
        : logger(loggerFolder.isEmpty() ? rig.LoggerFolder() : loggerFolder),
          backups(backupFolder.isEmpty() ? rig.Backups() : backupFolder) {
        QDir().mkpath(logger);
        QDir().mkpath(backups);
        rig.PlantStored(QStringLiteral("SelectedPathName"), backups);
    }

    MainWindowServices Services() {
        MainWindowServices services = rig.Services();
        services.executablePath = logger + QStringLiteral("ZORVEL_Backup");
        if (realRegistry) {
            registry_ = std::make_unique<platform::WineRegistrySnapshot>(
                [this] { return rig.window ? rig.window->LoggerFolder() : QString(); }, runner_,
                platform::FindWineProgram());
            services.platform.registry = registry_.get();
        }
        if (clock.isValid()) services.clock = [this] { return clock; };
        return services;
    }

    TfmMain& Start() { return rig.Start(Services()); }
    TfmMain& Start(MainWindowServices services) { return rig.Start(std::move(services)); }
    TfmMain& W() { return *rig.window; }

    void Create() { W().CreateBT->click(); }
    void Restore() { W().RectoreBT->click(); }

    // The backups listed, and the one archive there (empty when there is not exactly one).
    QStringList Archives() const {
        return QDir(backups).entryList({QStringLiteral("zorvel3*.zip")}, QDir::Files, QDir::Name);
    }
    QString OnlyArchive() const {
        const QStringList archives = Archives();
        return archives.size() == 1 ? backups + QLatin1Char('/') + archives[0] : QString();
    }

    WindowRig rig;
    QString logger;
    QString backups;
    bool realRegistry = false;  // real Wine snapshots in the prefix that holds the logger folder
    QDateTime clock;            // a fixed time for the archive name; invalid means the system clock

private:
    platform::QtProcessRunner runner_;
    std::unique_ptr<platform::WineRegistrySnapshot> registry_;
};

// Every scratch file (".zbk-XXXXXX") below these folders.
inline QStringList ScratchFilesBelow(const QStringList& folders) {
    QStringList found;
    for (const QString& folder : folders) {
        QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (QFileInfo(path).fileName().startsWith(QStringLiteral(".zbk-"))) found.append(path);
        }
    }
    return found;
}

}  // namespace app::testing
