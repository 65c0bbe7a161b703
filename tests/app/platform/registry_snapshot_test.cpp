// The registry snapshot against a real Wine: keys set with `wine reg add` in a fresh prefix are
// exported by the product's code to UTF-16 .reg files in a logger folder inside drive_c (with a blank
// in its name), deleted, imported again and read back with `wine reg query`. Without a prefix, Wine
// is never started.
#include "app/platform/qt_process_runner.h"
#include "app/platform/wine_prefix.h"
#include "app/platform/wine_registry_snapshot.h"
#include "tests/app/support/fakes.h"
#include "tests/app/support/wine_test_prefix.h"

#include <QStringDecoder>
#include <QtTest>
#include <memory>
#include <unistd.h>

using namespace app::platform;
using app::fakes::LoggingProcessRunner;
using app::fakes::WineTestPrefix;

namespace {

const QString kLogKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\ZORVEL_log3");
const QString kServerKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\ZORVEL_server");
const QString kOperator = QStringLiteral("J\u00fcrgen \u00d8stergaard \u03a9");

QString ReadUtf16(const QString& path, bool* hasBom = nullptr) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    if (hasBom) *hasBom = bytes.startsWith("\xff\xfe");
    auto decode = QStringDecoder(QStringDecoder::Utf16LE);
    QString text = decode(bytes.startsWith("\xff\xfe") ? bytes.mid(2) : bytes);
    return text;
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class RegistrySnapshotTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WineTestPrefix> wine_;
    QString logger_;  // the logger folder inside drive_c, with one trailing '/'
    QtProcessRunner realRunner_;

    void SkipWithoutWine() {
        if (!wine_->SkipReason().isEmpty()) QSKIP(qPrintable(wine_->SkipReason()));
    }
    QString Query(const QString& key, const QString& value) {
        const auto out = wine_->Wine({"reg", "query", key, "/v", value});
        return out.finished && out.exitCode == 0 ? QString::fromUtf8(out.out) : QString();
    }
    bool KeyExists(const QString& key) {
        const auto out = wine_->Wine({"reg", "query", key});
        return out.finished && out.exitCode == 0;
    }
    QStringList TmpFiles() const {
        return QDir(logger_ + "tmp").entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
    void ClearTmp() {
        for (const QString& name : TmpFiles()) QFile::remove(logger_ + "tmp/" + name);
    }

private slots:
    void initTestCase() {
        wine_ = std::make_unique<WineTestPrefix>();
        if (!wine_->SkipReason().isEmpty()) {
            qWarning("Wine tests skipped: %s", qPrintable(wine_->SkipReason()));
            return;
        }
        qInfo("Wine prefix made in %lld ms", wine_->BootMs());
        logger_ = wine_->Prefix() + "/drive_c/ZORVEL Log3/";
        QVERIFY(QDir().mkpath(logger_ + "tmp"));
        const QList<QStringList> adds = {
            {"HKCU\\Software\\ZORVEL_log3", "/v", "Call", "/d", "OE1ABC"},
            {"HKCU\\Software\\ZORVEL_log3", "/v", "Operator", "/d", kOperator},
            {"HKCU\\Software\\ZORVEL_log3", "/v", "Path", "/d", "C:\\ZORVEL Log3\\DB\\Logs.mdb"},
            {"HKCU\\Software\\ZORVEL_log3\\TfmEditNewQso", "/v", "Left", "/t", "REG_DWORD", "/d", "518"},
            {"HKCU\\Software\\ZORVEL_server", "/v", "Port", "/t", "REG_DWORD", "/d", "7300"},
            {"HKCU\\Software\\ZORVEL_server", "/v", "Host", "/d", "cluster.example.org"},
        };
        for (QStringList add : adds) {
            add.prepend("add");
            add.prepend("reg");
            add.append("/f");
            const auto out = wine_->Wine(add);
            QVERIFY2(out.finished && out.exitCode == 0, qPrintable(add.join(' ')));
        }
    }

    void exportsBothKeysAsUtf16RegFiles() {
        SkipWithoutWine();
        ClearTmp();
        WineRegistrySnapshot snapshot([&] { return logger_; }, realRunner_, FindWineProgram());
        const QString logFile = logger_ + "tmp/zorvel3_Registry.reg";
        const QString serverFile = logger_ + "tmp/ZORVEL_server_Registry.reg";
        QVERIFY(snapshot.ExportKey(kLogKey, logFile));
        QVERIFY(snapshot.ExportKey(kServerKey, serverFile));
        QCOMPARE(TmpFiles(), (QStringList{"ZORVEL_server_Registry.reg", "zorvel3_Registry.reg"}));

        bool bom = false;
        const QString log = ReadUtf16(logFile, &bom);
        QVERIFY2(bom, "the export is not UTF-16 with a byte-order mark");
        QVERIFY(log.startsWith("Windows Registry Editor Version 5.00"));
        QVERIFY(log.contains("[HKEY_CURRENT_USER\\Software\\ZORVEL_log3]"));
        QVERIFY(log.contains("\"Call\"=\"OE1ABC\""));
        QVERIFY2(log.contains("\"Operator\"=\"" + kOperator + "\""), qPrintable(log));
        QVERIFY(log.contains("\"Path\"=\"C:\\\\ZORVEL Log3\\\\DB\\\\Logs.mdb\""));
        QVERIFY(log.contains("[HKEY_CURRENT_USER\\Software\\ZORVEL_log3\\TfmEditNewQso]"));
        QVERIFY(log.contains("\"Left\"=dword:00000206"));
        QVERIFY(!log.contains("ZORVEL_server"));

        const QString server = ReadUtf16(serverFile, &bom);
        QVERIFY(bom);
        QVERIFY(server.contains("[HKEY_CURRENT_USER\\Software\\ZORVEL_server]"));
        QVERIFY(server.contains("\"Port\"=dword:00001c84"));
        QVERIFY(server.contains("\"Host\"=\"cluster.example.org\""));
    }

    void importBringsDeletedKeysBack() {
        SkipWithoutWine();
        ClearTmp();
        WineRegistrySnapshot snapshot([&] { return logger_; }, realRunner_, FindWineProgram());
        const QString logFile = logger_ + "tmp/zorvel3_Registry.reg";
        const QString serverFile = logger_ + "tmp/ZORVEL_server_Registry.reg";
        QVERIFY(snapshot.ExportKey(kLogKey, logFile));
        QVERIFY(snapshot.ExportKey(kServerKey, serverFile));
        const QByteArray before = ReadBytes(logFile);

        QCOMPARE(wine_->Wine({"reg", "delete", "HKCU\\Software\\ZORVEL_log3", "/f"}).exitCode, 0);
        QCOMPARE(wine_->Wine({"reg", "delete", "HKCU\\Software\\ZORVEL_server", "/f"}).exitCode, 0);
        QVERIFY(!KeyExists(kLogKey));
        QVERIFY(!KeyExists(kServerKey));

        snapshot.ImportFile(logFile);
        snapshot.ImportFile(serverFile);
        QVERIFY(Query(kLogKey, "Call").contains("OE1ABC"));
        QVERIFY(Query(kLogKey + "\\TfmEditNewQso", "Left").contains("0x206"));
        QVERIFY(Query(kServerKey, "Port").contains("0x1c84"));
        // The non-ASCII value came back unchanged: a new export is byte for byte the old one.
        QVERIFY(snapshot.ExportKey(kLogKey, logger_ + "tmp/again.reg"));
        QCOMPARE(ReadBytes(logger_ + "tmp/again.reg"), before);
    }

    void importOverwritesChangedValues() {
        SkipWithoutWine();
        ClearTmp();
        WineRegistrySnapshot snapshot([&] { return logger_; }, realRunner_, FindWineProgram());
        const QString logFile = logger_ + "tmp/zorvel3_Registry.reg";
        QVERIFY(snapshot.ExportKey(kLogKey, logFile));
        QCOMPARE(wine_->Wine({"reg", "add", "HKCU\\Software\\ZORVEL_log3", "/v", "Call", "/d", "DL9XYZ", "/f"}).exitCode, 0);
        QVERIFY(Query(kLogKey, "Call").contains("DL9XYZ"));
        snapshot.ImportFile(logFile);
        QVERIFY(Query(kLogKey, "Call").contains("OE1ABC"));
    }

    // The editor writes nothing for a key that does not exist; it ran, so the export says true.
    void missingKeyGivesNoFile() {
        SkipWithoutWine();
        ClearTmp();
        WineRegistrySnapshot snapshot([&] { return logger_; }, realRunner_, FindWineProgram());
        QVERIFY(snapshot.ExportKey("HKEY_CURRENT_USER\\Software\\ZORVEL_nothing", logger_ + "tmp/none.reg"));
        QCOMPARE(TmpFiles(), QStringList{});
    }

    // Reached through a symlink from outside, and with a non-ASCII folder name while our own
    // locale is plain C: the prefix is still found and Wine still gets the right path.
    void symlinkedLoggerFolderWithNonAsciiNameUnderTheCLocale() {
        SkipWithoutWine();
        const QString realLogger = wine_->Prefix() + "/drive_c/Logbuch J\u00fcrgen/";
        QVERIFY(QDir().mkpath(realLogger + "tmp"));
        const QString link = wine_->Scratch() + "/Verkn\u00fcpfung zum Log";
        QVERIFY(QFile::link(realLogger, link));
        const QByteArray oldAll = qgetenv("LC_ALL");
        qputenv("LC_ALL", "C");
        WineRegistrySnapshot snapshot([&] { return link + "/"; }, realRunner_, FindWineProgram());
        const bool exported = snapshot.ExportKey(kServerKey, link + "/tmp/ZORVEL_server_Registry.reg");
        if (oldAll.isNull()) qunsetenv("LC_ALL");
        else qputenv("LC_ALL", oldAll);
        QVERIFY(exported);
        QVERIFY(ReadUtf16(realLogger + "tmp/ZORVEL_server_Registry.reg").contains("\"Port\"=dword:00001c84"));
    }

    // Outside any prefix nothing is run at all, so Wine cannot make a prefix of its own there.
    void noPrefixRunsNothingAndMakesNothing() {
        SkipWithoutWine();
        const QString plain = wine_->Scratch() + "/plain/ZORVEL Log3/";
        QVERIFY(QDir().mkpath(plain + "tmp"));
        LoggingProcessRunner runner(realRunner_);
        WineRegistrySnapshot snapshot([&] { return plain; }, runner, FindWineProgram());
        QVERIFY(!snapshot.ExportKey(kLogKey, plain + "tmp/zorvel3_Registry.reg"));
        QFile::copy(logger_ + "tmp/zorvel3_Registry.reg", plain + "tmp/import.reg");
        snapshot.ImportFile(plain + "tmp/import.reg");
        QVERIFY(runner.requests.empty());
        QVERIFY(!QFileInfo::exists(plain + "tmp/zorvel3_Registry.reg"));
        QVERIFY(!QFileInfo::exists(wine_->Scratch() + "/plain/system.reg"));
        QVERIFY(!QFileInfo::exists(plain + "system.reg"));
    }

    void missingImportFileRunsNothing() {
        SkipWithoutWine();
        LoggingProcessRunner runner(realRunner_);
        WineRegistrySnapshot snapshot([&] { return logger_; }, runner, FindWineProgram());
        snapshot.ImportFile(logger_ + "tmp/not there.reg");
        QVERIFY(runner.requests.empty());
    }

    void cleanupTestCase() { wine_.reset(); }
};

QTEST_MAIN(RegistrySnapshotTest)
#include "registry_snapshot_test.moc"
