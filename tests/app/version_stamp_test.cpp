// The title's version stamp (the "0." removal, the build-time pattern, the zero date) and About.
#include "app/version_stamp.h"
#include "tests/app/support/fakes.h"
#include "tests/support/test_support.h"

#include <QRegularExpression>
#include <QtTest>

using namespace app;
using namespace app::fakes;

class VersionStampTest : public QObject {
    Q_OBJECT

private slots:
    void shortVersion_data() {
        QTest::addColumn<QString>("fileVersion");
        QTest::addColumn<QString>("shown");
        QTest::newRow("3.0.0.1") << "3.0.0.1" << "3.1";
        QTest::newRow("0.0.0.0") << "0.0.0.0" << "0";
        QTest::newRow("2.10.0.5") << "2.10.0.5" << "2.15";
        QTest::newRow("10.0.0.0 keeps its last zero") << "10.0.0.0" << "10";
        QTest::newRow("no zeros") << "3.1.2.4" << "3.1.2.4";
        QTest::newRow("20.30.40.50") << "20.30.40.50" << "23450";
        QTest::newRow("no re-scan of what the removal joins") << "00..1" << "0.1";
        QTest::newRow("surrounding blanks trimmed") << "  3.0.0.1 " << "3.1";
        QTest::newRow("empty") << "" << "";
    }
    void shortVersion() {
        QFETCH(QString, fileVersion);
        QFETCH(QString, shown);
        QCOMPARE(ShortVersion(fileVersion), shown);
    }

    void buildTime_data() {
        QTest::addColumn<QDateTime>("time");
        QTest::addColumn<QString>("text");
        QTest::newRow("example") << QDateTime(QDate(2026, 12, 6), QTime(10, 38, 59)) << " ( 06.12.2026 10:38)";
        QTest::newRow("leading zeros") << QDateTime(QDate(2001, 2, 3), QTime(4, 5)) << " ( 03.02.2001 04:05)";
        QTest::newRow("24-hour clock") << QDateTime(QDate(2025, 12, 31), QTime(23, 59)) << " ( 31.12.2025 23:59)";
        QTest::newRow("invalid time shows the zero date") << QDateTime() << " ( 30.12.1899 00:00)";
    }
    void buildTime() {
        QFETCH(QDateTime, time);
        QFETCH(QString, text);
        QCOMPARE(BuildTimeText(time), text);
    }

    void unreadableTimeShowsTheZeroDate() { QCOMPARE(BuildTimeText(std::nullopt), QStringLiteral(" ( 30.12.1899 00:00)")); }

    void captionFromFakeVersionInfo() {
        FakeVersionInfo version;  // 3.0.0.1, 06.12.2026 10:38
        QCOMPARE(ExtendedCaption("ZORVEL_Backup", version, "/opt/log/ZORVEL_Backup"),
                 QStringLiteral("ZORVEL_Backup 3.1 -  ( 06.12.2026 10:38)"));
        QCOMPARE(version.paths, (QStringList{"/opt/log/ZORVEL_Backup", "/opt/log/ZORVEL_Backup"}));
        version.version = "0.0.0.0";
        version.time = std::nullopt;
        QCOMPARE(ExtendedCaption("ZORVEL_Backup", version, "x"), QStringLiteral("ZORVEL_Backup 0 -  ( 30.12.1899 00:00)"));
    }

    void buildVersionInfoReportsTheEmbeddedVersion() {
        const QString embedded = QString::fromLatin1(platform::BuildVersionInfo::EmbeddedFileVersion());
        QVERIFY2(QRegularExpression("^\\d+\\.\\d+\\.\\d+\\.\\d+$").match(embedded).hasMatch(), qPrintable(embedded));
        platform::BuildVersionInfo info;
        QCOMPARE(info.FileVersion(QCoreApplication::applicationFilePath()), embedded);
        QCOMPARE(platform::BuildVersionInfo("").FileVersion("x"), QStringLiteral("0.0.0.0"));
        QCOMPARE(platform::BuildVersionInfo("2.10.0.5").FileVersion("x"), QStringLiteral("2.10.0.5"));
    }

    void lastWriteTimeIsTheFilesModificationTime() {
        testing_support::TempDir dir;
        const QString exe = QString::fromStdString(dir / "ZORVEL_Backup");
        testing_support::WriteFile(exe.toStdString(), "\x7f" "ELF");
        const QDateTime stamp(QDate(2026, 12, 6), QTime(10, 38, 12));
        {
            QFile file(exe);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.setFileTime(stamp, QFileDevice::FileModificationTime));
        }
        platform::BuildVersionInfo info("3.0.0.1");
        QCOMPARE(info.LastWriteTime(exe), std::optional<QDateTime>(stamp));
        QCOMPARE(ExtendedCaption("ZORVEL_Backup", info, exe), QStringLiteral("ZORVEL_Backup 3.1 -  ( 06.12.2026 10:38)"));
        QCOMPARE(info.LastWriteTime(exe + ".gone"), std::nullopt);
        QCOMPARE(ExtendedCaption("ZORVEL_Backup", info, exe + ".gone"),
                 QStringLiteral("ZORVEL_Backup 3.1 -  ( 30.12.1899 00:00)"));
    }

    // The running test executable stands in for the program: its title has the full shape.
    void captionOfARealExecutable() {
        platform::BuildVersionInfo info;
        const QString caption = ExtendedCaption("ZORVEL_Backup", info, QCoreApplication::applicationFilePath());
        QVERIFY2(QRegularExpression("^ZORVEL_Backup \\d[\\d.]* -  \\( \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d\\)$")
                     .match(caption)
                     .hasMatch(),
                 qPrintable(caption));
        QVERIFY(!caption.contains("30.12.1899"));
    }

    void aboutOpensTheAuthorsPage() {
        // The address users are sent to, written out here rather than taken from the program.
        RecordingWebOpener web;
        OpenAuthorWebPage(web);
        QCOMPARE(web.addresses, QStringList{"https://zorvel-log.example.org/"});
    }
};

QTEST_MAIN(VersionStampTest)
#include "version_stamp_test.moc"
