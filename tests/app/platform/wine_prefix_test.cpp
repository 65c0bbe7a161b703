// Finding the logger's Wine prefix from the logger folder's real path, the child environment of a
// Wine run, and the rule that nothing is run without both a prefix and `wine`.
#include "app/platform/wine_prefix.h"
#include "tests/support/test_support.h"

#include <QtTest>
#include <unistd.h>

using namespace app::platform;
using testing_support::MakeDirs;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

// A folder with the three marks of a Wine prefix (empty registry files are enough for the walk).
void MakePrefixMarks(const std::string& prefix) {
    WriteFile(prefix + "/system.reg", "");
    WriteFile(prefix + "/user.reg", "");
    MakeDirs(prefix + "/drive_c");
}

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

class WinePrefixTest : public QObject {
    Q_OBJECT

private slots:
    void findsThePrefixAboveTheLoggerFolder() {
        TempDir dir;
        const std::string prefix = dir / "home/op/.wine";
        MakePrefixMarks(prefix);
        MakeDirs(prefix + "/drive_c/Program Files/ZORVEL Log3/DB");
        const QString real = QFileInfo(Q(prefix)).canonicalFilePath();
        QCOMPARE(FindWinePrefix(Q(prefix + "/drive_c/Program Files/ZORVEL Log3")), real);
        QCOMPARE(FindWinePrefix(Q(prefix + "/drive_c/Program Files/ZORVEL Log3/")), real);
        QCOMPARE(FindWinePrefix(Q(prefix + "/drive_c/Program Files/ZORVEL Log3/DB")), real);
        QCOMPARE(FindWinePrefix(Q(prefix)), real);
    }

    void noPrefixWhereAMarkIsMissing_data() {
        QTest::addColumn<QString>("missing");
        QTest::newRow("system.reg") << "system.reg";
        QTest::newRow("user.reg") << "user.reg";
        QTest::newRow("drive_c") << "drive_c";
    }
    void noPrefixWhereAMarkIsMissing() {
        QFETCH(QString, missing);
        TempDir dir;
        const std::string prefix = dir / "pfx";
        MakePrefixMarks(prefix);
        MakeDirs(prefix + "/drive_c/Log");
        const QString victim = Q(prefix) + "/" + missing;
        if (missing == QLatin1String("drive_c")) {
            // drive_c present as a file is no drive either.
            QVERIFY(QDir(victim).removeRecursively());
            WriteFile(victim.toStdString(), "");
            MakeDirs(prefix + "/other/Log");
            QCOMPARE(FindWinePrefix(Q(prefix + "/other/Log")), QString());
        } else {
            QVERIFY(QFile::remove(victim));
            QCOMPARE(FindWinePrefix(Q(prefix + "/drive_c/Log")), QString());
        }
    }

    void plainFoldersAndMissingFoldersHaveNone() {
        TempDir dir;
        MakeDirs(dir / "Log");
        QCOMPARE(FindWinePrefix(Q(dir / "Log")), QString());
        QCOMPARE(FindWinePrefix(Q(dir / "does not exist")), QString());
        QCOMPARE(FindWinePrefix(QString()), QString());
    }

    // The real path decides: a link from outside into a prefix finds it; a link inside a prefix that
    // leads out of it does not.
    void symlinksAreResolvedFirst() {
        TempDir dir;
        const std::string prefix = dir / "pfx";
        MakePrefixMarks(prefix);
        MakeDirs(prefix + "/drive_c/ZORVEL Log3");
        MakeDirs(dir / "elsewhere/Log");
        QVERIFY(::symlink((prefix + "/drive_c/ZORVEL Log3").c_str(), (dir / "into").c_str()) == 0);
        QVERIFY(::symlink((dir / "elsewhere/Log").c_str(), (prefix + "/drive_c/out").c_str()) == 0);
        QCOMPARE(FindWinePrefix(Q(dir / "into")), QFileInfo(Q(prefix)).canonicalFilePath());
        QCOMPARE(FindWinePrefix(Q(prefix + "/drive_c/out")), QString());
    }

    void innermostPrefixWins() {
        TempDir dir;
        MakePrefixMarks(dir / "outer");
        MakePrefixMarks(dir / "outer/drive_c/inner");
        MakeDirs(dir / "outer/drive_c/inner/drive_c/Log");
        QCOMPARE(FindWinePrefix(Q(dir / "outer/drive_c/inner/drive_c/Log")),
                 QFileInfo(Q(dir / "outer/drive_c/inner")).canonicalFilePath());
    }

    void environment_data() {
        QTest::addColumn<QString>("lcAll");
        QTest::addColumn<QString>("lcCtype");
        QTest::addColumn<QString>("lang");
        QTest::addColumn<QString>("setCtype");  // "" when LC_CTYPE is left alone
        QTest::addColumn<QString>("setLang");   // "" when LANG is left alone
        QTest::addColumn<bool>("unsetAll");
        QTest::newRow("UTF-8 LANG") << "" << "" << "de_AT.UTF-8" << "" << "" << false;
        QTest::newRow("utf8 spelling") << "" << "" << "en_US.utf8" << "" << "" << false;
        QTest::newRow("UTF-8 LC_CTYPE over C LANG") << "" << "C.UTF-8" << "C" << "" << "" << false;
        QTest::newRow("nothing set") << "" << "" << "" << "C.UTF-8" << "" << false;
        QTest::newRow("C") << "" << "" << "C" << "C.UTF-8" << "" << false;
        QTest::newRow("Latin-1 LC_CTYPE") << "" << "de_DE.ISO-8859-1" << "de_DE.UTF-8" << "C.UTF-8" << "" << false;
        QTest::newRow("LC_ALL=C overrides UTF-8 LANG") << "C" << "" << "en_US.UTF-8" << "C.UTF-8" << "C" << true;
        QTest::newRow("UTF-8 LC_ALL") << "C.UTF-8" << "" << "" << "" << "" << false;
    }
    void environment() {
        QFETCH(QString, lcAll);
        QFETCH(QString, lcCtype);
        QFETCH(QString, lang);
        QFETCH(QString, setCtype);
        QFETCH(QString, setLang);
        QFETCH(bool, unsetAll);
        QMap<QString, QString> caller{{"HOME", "/root"}, {"WINEPREFIX", "/somewhere/else"}, {"WINEDEBUG", "+all"}};
        if (!lcAll.isEmpty()) caller.insert("LC_ALL", lcAll);
        if (!lcCtype.isEmpty()) caller.insert("LC_CTYPE", lcCtype);
        if (!lang.isEmpty()) caller.insert("LANG", lang);

        const WineEnvironment env = WineEnvironmentFor("/pfx", caller);
        QCOMPARE(env.set.value("WINEPREFIX"), QStringLiteral("/pfx"));
        QCOMPARE(env.set.value("WINEDEBUG"), QStringLiteral("-all"));
        QCOMPARE(env.set.value("LC_CTYPE"), setCtype);
        QCOMPARE(env.set.value("LANG"), setLang);
        QCOMPARE(env.unset.contains("LC_ALL"), unsetAll);
        QVERIFY(!env.set.contains("HOME"));
    }

    void runsOnlyWithPrefixAndWine() {
        TempDir dir;
        const std::string prefix = dir / "pfx";
        MakePrefixMarks(prefix);
        MakeDirs(prefix + "/drive_c/ZORVEL Log3");
        MakeDirs(dir / "plain");
        const QString logger = Q(prefix + "/drive_c/ZORVEL Log3/");
        const QStringList args{"regedit", "/E", "/a b/c.reg", "HKEY_CURRENT_USER\\Software\\ZORVEL_log3"};

        QVERIFY(!WineRunInLoggerPrefix(logger, QString(), args, {}));
        QVERIFY(!WineRunInLoggerPrefix(Q(dir / "plain"), "/usr/bin/wine", args, {}));
        QVERIFY(!WineRunInLoggerPrefix(Q(dir / "nowhere"), "/usr/bin/wine", args, {}));

        const auto run = WineRunInLoggerPrefix(logger, "/usr/bin/wine", args, {{"LANG", "C.UTF-8"}});
        QVERIFY(run);
        QCOMPARE(run->program, QStringLiteral("/usr/bin/wine"));
        QCOMPARE(run->arguments, args);
        QCOMPARE(run->setEnv.value("WINEPREFIX"), QFileInfo(Q(prefix)).canonicalFilePath());
        QCOMPARE(run->timeoutMs, -1);
    }
};

QTEST_MAIN(WinePrefixTest)
#include "wine_prefix_test.moc"
