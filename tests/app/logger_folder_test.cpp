// The logger folder always ends in exactly one separator, whatever the field holds.
#include "app/logger_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class LoggerFolderTest : public QObject {
    Q_OBJECT

private slots:
    void folderFromFieldText_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folder");
        QTest::newRow("no separator") << "/x/Log" << "/x/Log/";
        QTest::newRow("one separator") << "/x/Log/" << "/x/Log/";
        QTest::newRow("two separators") << "/x/Log//" << "/x/Log/";
        QTest::newRow("three separators") << "/x/Log///" << "/x/Log/";
        QTest::newRow("doubled inside") << "/x//Log" << "/x/Log/";
        QTest::newRow("root") << "/" << "/";
        QTest::newRow("empty") << "" << "/";
        QTest::newRow("blanks kept") << "/x/ZORVEL Log 3" << "/x/ZORVEL Log 3/";
    }
    void folderFromFieldText() {
        QFETCH(QString, text);
        QFETCH(QString, folder);
        QCOMPARE(app::LoggerFolderFromText(text), folder);
    }

    void executableFolder_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::newRow("in a folder") << "/x/Log/ZORVEL_Backup" << "/x/Log/";
        QTest::newRow("at the root") << "/ZORVEL_Backup" << "/";
        QTest::newRow("no folder") << "ZORVEL_Backup" << "";
    }
    void executableFolder() {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QCOMPARE(app::ExecutableFolder(path), folder);
    }

    // The program reached through a link in the logger folder belongs to that folder: the link is not
    // followed, however the program was started (a path from the current folder, a bare name on PATH).
    void startedPathKeepsTheLink() {
        QTemporaryDir dir;
        const QString root = QFileInfo(dir.path()).canonicalFilePath();
        QVERIFY(QDir().mkpath(root + "/build") && QDir().mkpath(root + "/ZORVEL Log3"));
        QFile program(root + "/build/ZORVEL_Backup");
        QVERIFY(program.open(QIODevice::WriteOnly));
        program.close();
        const QString real = root + "/build/ZORVEL_Backup";
        const QString link = root + "/ZORVEL Log3/ZORVEL_Backup";
        QVERIFY(QFile::link(real, link));
        const QString logger = root + "/ZORVEL Log3";
        const struct {
            const char* name;
            QString argv0, cwd, path, expected;
        } cases[] = {
            {"relative to the logger folder", "./ZORVEL_Backup", logger, "/usr/bin", link},
            {"absolute", link, "/", "", link},
            {"with dot-dot", "../ZORVEL Log3/./ZORVEL_Backup", root + "/build", "", link},
            {"bare name on PATH", "ZORVEL_Backup", "/", "/nonexistent:" + logger + ":" + root + "/build", link},
            {"not found: the real path", "gone/ZORVEL_Backup", logger, "", real},
            {"no argv[0]", "", logger, "", real},
        };
        for (const auto& c : cases) {
            const QString started = app::StartedExecutablePath(c.argv0, c.cwd, c.path, real);
            QVERIFY2(started == c.expected, qPrintable(QString("%1: %2").arg(c.name, started)));
        }
        QCOMPARE(app::ExecutableFolder(app::StartedExecutablePath("./ZORVEL_Backup", logger, "", real)), logger + "/");
    }
};

QTEST_MAIN(LoggerFolderTest)
#include "logger_folder_test.moc"
