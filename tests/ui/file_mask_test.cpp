// The folder-search mask rule of the file list, case by case.
#include "ui/file_mask.h"

#include <QtTest>

using namespace ui;

class FileMaskTest : public QObject {
    Q_OBJECT
private slots:
    void matches_data() {
        QTest::addColumn<QString>("mask");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("expected");
        QTest::newRow("catalogue mask") << "zorvel3*.zip" << "zorvel3_20261206103800.zip" << true;
        QTest::newRow("capitals on disk") << "zorvel3*.zip" << "ZORVEL3_20261206103800.ZIP" << true;
        QTest::newRow("prefix alone") << "zorvel3*.zip" << "zorvel3.zip" << true;
        QTest::newRow("other prefix") << "zorvel3*.zip" << "zorvel2_1.zip" << false;
        QTest::newRow("other extension") << "zorvel3*.zip" << "zorvel3_1.zip.bak" << false;
        QTest::newRow("star dot star, no dot") << "*.*" << "README" << true;
        QTest::newRow("star dot star, dot file") << "*.*" << ".profile" << true;
        QTest::newRow("star dot star, two dots") << "*.*" << "a.tar.gz" << true;
        QTest::newRow("star") << "*" << "anything.at.all" << true;
        QTest::newRow("name dot star finds the bare name") << "backup.*" << "backup" << true;
        QTest::newRow("name dot star finds an extension") << "backup.*" << "Backup.ini" << true;
        QTest::newRow("name dot star is no prefix match") << "backup.*" << "backups" << false;
        QTest::newRow("star dot finds names without extension") << "*." << "LanguageFile" << true;
        QTest::newRow("star dot skips extensions") << "*." << "a.txt" << false;
        QTest::newRow("question mark is one character") << "a?c.txt" << "abc.txt" << true;
        QTest::newRow("question mark is not zero characters") << "a?c.txt" << "ac.txt" << false;
        QTest::newRow("several stars") << "*a*b*c" << "xxaYYbZZc" << true;
        QTest::newRow("star backtracking") << "*ab" << "aab" << true;
        QTest::newRow("star backtracking fails") << "*ab*x" << "abababab" << false;
        QTest::newRow("exact name ignoring case") << "Logs.MDB" << "logs.mdb" << true;
        QTest::newRow("empty mask") << "" << "a" << false;
        QTest::newRow("non-ASCII ignoring case") << QString::fromUtf8("ZÁLOHA*") << QString::fromUtf8("záloha.zip") << true;
    }
    void matches() {
        QFETCH(QString, mask);
        QFETCH(QString, name);
        QFETCH(bool, expected);
        QCOMPARE(MatchesFileMask(mask, name), expected);
    }

    void splitting() {
        QCOMPARE(SplitMasks("*.zip;*.txt"), QStringList({"*.zip", "*.txt"}));
        QCOMPARE(SplitMasks(";*.zip;;"), QStringList({"*.zip"}));
        QVERIFY(HasWildcards("a?"));
        QVERIFY(!HasWildcards("a.txt"));
    }
};

QTEST_MAIN(FileMaskTest)
#include "file_mask_test.moc"
