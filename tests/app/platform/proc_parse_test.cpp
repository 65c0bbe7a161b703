// /proc parsing on recorded text, and the process list read from a recorded proc tree.
#include "app/platform/linux_process_list.h"
#include "app/platform/proc_parse.h"
#include "tests/support/test_support.h"

#include <QtTest>

using namespace app::platform;

namespace {

QByteArray Bytes(const char* text, size_t size) { return QByteArray(text, static_cast<qsizetype>(size)); }
#define RAW(literal) Bytes(literal, sizeof(literal) - 1)

// Recorded from a machine running a Wine program: the argument area is padded with NULs.
const QByteArray kWineCmdline = RAW("C:\\Program Files\\ZORVEL\\ZORVEL_Log3.exe\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0");

void WriteProcess(const testing_support::TempDir& root, const std::string& pid, const QByteArray& cmdline,
                  const QByteArray& comm, const QByteArray& stat) {
    testing_support::WriteFile(root / (pid + "/cmdline"), cmdline.toStdString());
    testing_support::WriteFile(root / (pid + "/comm"), comm.toStdString());
    if (!stat.isEmpty()) testing_support::WriteFile(root / (pid + "/stat"), stat.toStdString());
}

}  // namespace

class ProcParseTest : public QObject {
    Q_OBJECT

private slots:
    void processName_data() {
        QTest::addColumn<QByteArray>("cmdline");
        QTest::addColumn<QByteArray>("comm");
        QTest::addColumn<QString>("name");
        QTest::newRow("wine program, Windows path") << kWineCmdline << QByteArray("ZORVEL_Log3.exe\n") << "ZORVEL_Log3.exe";
        QTest::newRow("wine service with arguments")
            << RAW("C:\\windows\\system32\\explorer.exe\0/desktop\0\0\0") << QByteArray("explorer.exe\n") << "explorer.exe";
        QTest::newRow("Unix path with arguments") << RAW("/usr/bin/bash\0-c\0exec sleep 1\0") << QByteArray("bash\n") << "bash";
        QTest::newRow("bare name") << RAW("sleep\0" "30\0") << QByteArray("sleep\n") << "sleep";
        QTest::newRow("mixed separators") << RAW("Z:\\home/op\\bin/x.exe\0") << QByteArray("x.exe\n") << "x.exe";
        QTest::newRow("name longer than comm holds")
            << RAW("/opt/tools/ZORVEL_Log3_helper.exe\0") << QByteArray("ZORVEL_Log3_hel\n") << "ZORVEL_Log3_helper.exe";
        QTest::newRow("kernel thread: comm as it stands") << QByteArray() << QByteArray("kworker/0:1\n") << "kworker/0:1";
        QTest::newRow("argv[0] empty") << RAW("\0-x\0") << QByteArray("daemon\n") << "daemon";
        QTest::newRow("argv[0] ends in a separator") << RAW("/usr/bin/\0") << QByteArray("odd\n") << "odd";
        QTest::newRow("no terminating NUL") << QByteArray("/bin/cat") << QByteArray("cat\n") << "cat";
        QTest::newRow("UTF-8 name") << QByteArray("/opt/gr\xc3\xbc\xc3\x9f" "e/L\xc3\xb6g.exe") << QByteArray() << "L\u00f6g.exe";
        QTest::newRow("nothing at all") << QByteArray() << QByteArray() << "";
    }
    void processName() {
        QFETCH(QByteArray, cmdline);
        QFETCH(QByteArray, comm);
        QFETCH(QString, name);
        QCOMPARE(ProcessNameFrom(cmdline, comm), name);
    }

    void state_data() {
        QTest::addColumn<QByteArray>("stat");
        QTest::addColumn<QString>("state");  // "" for none
        QTest::newRow("sleeping") << QByteArray("1234 (bash) S 1 1234 1234 0 -1 4194560 ...") << "S";
        QTest::newRow("zombie") << QByteArray("4321 (ZORVEL_Log3.exe) Z 1 0 0") << "Z";
        QTest::newRow("blanks and parentheses in the name") << QByteArray("99 (my (odd) name) Z 1 2 3") << "Z";
        QTest::newRow("closing parenthesis in the name") << QByteArray("5 (a) R b) R 1 2") << "R";
        QTest::newRow("running") << QByteArray("7 (cc1plus) R 6 6") << "R";
        QTest::newRow("cut after the name") << QByteArray("12 (x)") << "";
        QTest::newRow("cut after the blank") << QByteArray("12 (x) ") << "";
        QTest::newRow("no parentheses") << QByteArray("12 x S 1") << "";
        QTest::newRow("empty") << QByteArray() << "";
    }
    void state() {
        QFETCH(QByteArray, stat);
        QFETCH(QString, state);
        const auto parsed = ProcessStateFromStat(stat);
        QCOMPARE(parsed ? QString(QChar::fromLatin1(*parsed)) : QString(), state);
    }

    void pidFolders_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("pid");  // -1 for "not a process"
        QTest::newRow("pid") << "1234" << qint64(1234);
        QTest::newRow("one") << "1" << qint64(1);
        QTest::newRow("self") << "self" << qint64(-1);
        QTest::newRow("mixed") << "12a" << qint64(-1);
        QTest::newRow("sign") << "-1" << qint64(-1);
        QTest::newRow("empty") << "" << qint64(-1);
        QTest::newRow("absurdly long") << "12345678901234567890" << qint64(-1);
    }
    void pidFolders() {
        QFETCH(QString, name);
        QFETCH(qint64, pid);
        const auto parsed = PidFromDirName(name);
        QCOMPARE(parsed ? *parsed : qint64(-1), pid);
    }

    void fileNamePart_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("Windows") << "C:\\Program Files\\ZORVEL\\ZORVEL_Log3.exe" << "ZORVEL_Log3.exe";
        QTest::newRow("Unix") << "/usr/bin/env" << "env";
        QTest::newRow("none") << "ZORVEL_Log3.exe" << "ZORVEL_Log3.exe";
        QTest::newRow("trailing") << "C:\\dir\\" << "";
    }
    void fileNamePart() {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(FileNamePart(path), name);
    }

    // A recorded proc tree: zombies, unreadable processes and non-process folders are left out; the
    // rest come in ascending pid order.
    void listFromRecordedTree() {
        testing_support::TempDir root;
        WriteProcess(root, "120", RAW("/usr/bin/bash\0-l\0"), "bash\n", "120 (bash) S 1 120");
        WriteProcess(root, "9", RAW("/sbin/init\0splash\0"), "systemd\n", "9 (systemd) S 0 9");
        WriteProcess(root, "4242", kWineCmdline, "ZORVEL_Log3.exe\n", "4242 (ZORVEL_Log3.exe) S 4200 1");
        WriteProcess(root, "4300", RAW("C:\\ZORVEL\\ZORVEL_Log3.exe\0\0\0"), "ZORVEL_Log3.exe\n", "4300 (ZORVEL_Log3.exe) Z 1");
        WriteProcess(root, "4301", RAW("ZORVEL_Log3.exe\0"), "ZORVEL_Log3.exe\n", "4301 (ZORVEL_Log3.exe) X 1");
        WriteProcess(root, "77", QByteArray(), "kthreadd\n", "77 (kthreadd) S 0 0");
        WriteProcess(root, "500", RAW("/bin/gone\0"), "gone\n", "");  // no stat: it ended while we looked
        testing_support::WriteFile(root / "600/stat", "600 (half) S 1");  // no cmdline
        testing_support::WriteFile(root / "self/stat", "1 (self) S 0");
        testing_support::WriteFile(root / "uptime", "1.0 2.0\n");

        LinuxProcessList list(QString::fromStdString(root.Path()));
        const auto processes = list.ListProcesses();
        QStringList seen;
        for (const auto& p : processes) seen << QStringLiteral("%1:%2").arg(p.pid).arg(p.name);
        QCOMPARE(seen, (QStringList{"9:init", "77:kthreadd", "120:bash", "4242:ZORVEL_Log3.exe"}));
    }

    void missingRootGivesAnEmptyList() {
        LinuxProcessList list(QStringLiteral("/nonexistent/proc"));
        QVERIFY(list.ListProcesses().empty());
    }

    // On the live system we at least see ourselves, under our own executable's name.
    void liveListHoldsThisProcess() {
        LinuxProcessList list;
        const qint64 self = QCoreApplication::applicationPid();
        bool found = false;
        for (const auto& p : list.ListProcesses()) {
            if (p.pid == self) {
                found = true;
                QCOMPARE(p.name, QFileInfo(QCoreApplication::applicationFilePath()).fileName());
            }
        }
        QVERIFY(found);
    }
};

QTEST_MAIN(ProcParseTest)
#include "proc_parse_test.moc"
