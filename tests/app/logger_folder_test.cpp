// The logger folder always ends in exactly one separator, whatever the field holds.
#include "app/logger_folder.h"

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
};

QTEST_MAIN(LoggerFolderTest)
#include "logger_folder_test.moc"
