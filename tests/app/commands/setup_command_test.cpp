// The setup command at its decisions: which folders it takes (and why it refuses the others), what it
// does with what already stands in the folder and in the menu, what --remove takes away and what it
// leaves, and that a second run changes nothing. The Exec key it writes is read back by GLib's own
// launcher (`gio launch`, which starts a recorder program in a folder of the case's name) and checked by
// `desktop-file-validate`.
#include "app/commands/setup_command.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace app;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void Write(const QString& path, const QByteArray& bytes) {
    testing_support::WriteFile(path.toStdString(), bytes.toStdString());
}

QString LinkTarget(const QString& path) {
    QByteArray target(4096, '\0');
    const ssize_t n = ::readlink(QFile::encodeName(path).constData(), target.data(), 4096);
    return n < 0 ? QString() : QFile::decodeName(target.left(n));
}

bool IsLink(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// desktop-file-validate's verdict: "" when the file is valid (hints are no errors).
QString DesktopFileErrors(const QString& file) {
    QProcess validate;
    validate.start(QStringLiteral("desktop-file-validate"), {file});
    validate.waitForFinished(30000);
    const QString said = QString::fromUtf8(validate.readAllStandardOutput() + validate.readAllStandardError());
    if (validate.exitCode() != 0 || said.contains(QStringLiteral("error")))
        return said.isEmpty() ? QStringLiteral("exit %1").arg(validate.exitCode()) : said;
    return {};
}

// Runs setup or --remove with the lines it says kept.
struct Said {
    ExitCode code;
    QString text;
};

class Rig {
    testing_support::TempDir dir_;  // first: the paths below are made from it

public:
    Rig() : apps(Q(dir_ / "home/.local/share/applications")), program(Q(dir_ / "usr/lib/ZORVEL_Backup")) {
        Write(program, "#!/bin/sh\n");
    }
    Said Setup(const QString& folder, const QString& withProgram = {}) { return Do(folder, withProgram, false); }
    Said Remove(const QString& folder, const QString& withProgram = {}) { return Do(folder, withProgram, true); }
    QString Path(const QString& relative) const { return Q(dir_ / relative.toStdString()); }
    // A logger folder as the logger leaves it.
    QString LoggerFolder(const QString& name) const {
        const QString folder = Path(name);
        Write(folder + "/ZORVEL_Log3.exe", "MZ stand-in");
        QDir().mkpath(folder + "/DB");
        return folder;
    }
    QString EntryOf(const QString& folder) const { return apps + "/" + MenuEntryFileName(folder); }

    const QString apps;
    const QString program;

private:
    Said Do(const QString& folder, const QString& withProgram, bool remove) {
        QStringList lines;
        SetupCommand command(withProgram.isEmpty() ? program : withProgram, apps,
                             [&](const QString& l) { lines << l; }, [&](const QString& l) { lines << "err: " + l; });
        const ExitCode code = remove ? command.Remove(folder) : command.Setup(folder);
        return {code, lines.join('\n')};
    }
};

}  // namespace

class SetupCommandTest : public QObject {
    Q_OBJECT

private slots:
    void execQuoting() {
        const struct {
            const char* name;
            QString program;
            QString exec;  // as it stands in the file
        } cases[] = {
            {"plain", "/home/me/Log/ZORVEL_Backup", "\"/home/me/Log/ZORVEL_Backup\""},
            {"blanks", "/home/me/My Log/ZORVEL_Backup", "\"/home/me/My Log/ZORVEL_Backup\""},
            {"double quote", "/a\"b/ZORVEL_Backup", "\"/a\\\\\"b/ZORVEL_Backup\""},
            {"backslash", "/C:\\Log\\/ZORVEL_Backup", "\"/C:\\\\\\\\Log\\\\\\\\/ZORVEL_Backup\""},
            {"dollar", "/$HOME ${X}/ZORVEL_Backup", "\"/\\\\$HOME \\\\${X}/ZORVEL_Backup\""},
            {"backtick", "/`id`/ZORVEL_Backup", "\"/\\\\`id\\\\`/ZORVEL_Backup\""},
            {"single quote", "/Op's Log/ZORVEL_Backup", "\"/Op's Log/ZORVEL_Backup\""},
            {"shell words", "/a;b&c|d<e>f~g*h?i#j(k)/ZORVEL_Backup", "\"/a;b&c|d<e>f~g*h?i#j(k)/ZORVEL_Backup\""},
            {"percent", "/100%/ZORVEL_Backup", "/bin/sh -c \"exec \\\\\"\\\\$0\\\\\"\" \"/100%%/ZORVEL_Backup\""},
            {"field codes", "/%f %u %%/ZORVEL_Backup", "/bin/sh -c \"exec \\\\\"\\\\$0\\\\\"\" \"/%%f %%u %%%%/ZORVEL_Backup\""},
            {"non-ASCII", QString::fromUtf8("/J\u00fcrgen \u65e5\u672c/ZORVEL_Backup"),
             QString::fromUtf8("\"/J\u00fcrgen \u65e5\u672c/ZORVEL_Backup\"")},
        };
        for (const auto& c : cases) QCOMPARE(DesktopExecCommand(c.program), c.exec);

        // Each read back by GLib's launcher: the program in a folder of that name gets its path as argv[0].
        if (!testing_support::HaveTool("gio") || !testing_support::HaveTool("desktop-file-validate"))
            QSKIP("gio (libglib2.0-bin) or desktop-file-validate (desktop-file-utils) is missing: run scripts/setup.sh");
        testing_support::TempDir dir;
        const QString record = Q(dir / "record");
        for (const auto& c : cases) {
            const QString folder = Q(dir / "x") + QFileInfo(c.program).path();
            const QString program = folder + "/ZORVEL_Backup";
            Write(program, "#!/bin/sh\nprintf '%s' \"$0\" > '" + record.toUtf8() + "'\n");
            QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            const QString entry = Q(dir / "entry.desktop");
            Write(entry, MenuEntryText(folder, program).toUtf8());
            QVERIFY2(DesktopFileErrors(entry).isEmpty(), qPrintable(QString(c.name) + ": " + DesktopFileErrors(entry)));
            QFile::remove(record);
            QProcess gio;
            gio.start(QStringLiteral("gio"), {QStringLiteral("launch"), entry});
            QVERIFY(gio.waitForFinished(30000));
            QVERIFY2(gio.exitCode() == 0, qPrintable(QString(c.name) + ": " + gio.readAllStandardError()));
            for (int i = 0; i < 100 && QFileInfo(record).size() == 0; ++i) QThread::msleep(50);
            QCOMPARE(QString::fromUtf8(QByteArray::fromStdString(testing_support::ReadFile(record.toStdString()))), program);
        }
    }

    void shellWords() {
        // What setup prints to be pasted into a shell: the shell must read back the word.
        for (const QString& word : {QString("/home/me/Log/ZORVEL_Backup"), QString("/My Log/x"), QString("Op's"),
                                    QString("$HOME `id` \\ \"q\" ~ * 100%"), QString("a'b''c")}) {
            QProcess sh;
            sh.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), "printf %s " + ShellWord(word)});
            QVERIFY(sh.waitForFinished(10000));
            QCOMPARE(QString::fromUtf8(sh.readAllStandardOutput()), word);
        }
        QCOMPARE(ShellWord("/home/me/Log/ZORVEL_Backup"), QString("/home/me/Log/ZORVEL_Backup"));
    }

    // Setup, setup again, then --remove, for each state a folder (and the menu) may be in.
    void setupAndRemove() {
        if (!testing_support::HaveTool("desktop-file-validate"))
            QSKIP("desktop-file-validate (desktop-file-utils) is missing: run scripts/setup.sh");
        enum Link { None, Ours, Elsewhere, Copy, Itself };
        const struct {
            const char* name;
            const char* folder;    // its name in the rig
            const char* holds;     // "logger", "" (empty), "exe", "db", "lower case", "missing", "file"
            Link link;             // what stands as ZORVEL_Backup in it before
            bool foreignEntry;     // a menu entry of another's under the folder's entry name
            ExitCode exit;
            const char* says;
        } cases[] = {
            {"missing folder", "Log", "missing", None, false, kExitFailed, "does not exist"},
            {"a file", "Log", "file", None, false, kExitFailed, "is not a folder"},
            {"empty folder", "Log", "", None, false, kExitFailed, "neither ZORVEL_Log3.exe nor a DB folder"},
            {"no DB", "Log", "exe", None, false, kExitFailed, "it holds no DB folder"},
            {"no ZORVEL_Log3.exe", "Log", "db", None, false, kExitFailed, "it holds no ZORVEL_Log3.exe"},
            {"names in other case", "Log", "lower case", None, false, kExitOk, "is set up"},
            {"logger folder", "Log", "logger", None, false, kExitOk, "is set up"},
            {"link there already", "Log", "logger", Ours, false, kExitOk, "(was there)"},
            {"link to elsewhere", "Log", "logger", Elsewhere, false, kExitFailed, "a link to /opt/other/ZORVEL_Backup"},
            {"a copy there", "Log", "logger", Copy, false, kExitFailed, "a file that is not a link to this program"},
            {"the program itself", "Log", "logger", Itself, false, kExitOk, "(the program itself)"},
            {"another's menu entry", "Log", "logger", None, true, kExitFailed, "is not the menu entry setup made"},
            {"blanks, quotes, $, %, \\", "Op's \"Log\" $HOME 100% C:\\x", "logger", None, false, kExitOk, "is set up"},
            {"line break", "Log\nOld", "logger", None, false, kExitFailed, "control character"},
        };
        for (const auto& c : cases) {
            const QString why = c.name;
            Rig rig;
            const QString folder = rig.Path(c.folder);
            const QString holds = c.holds;
            if (holds == "logger") rig.LoggerFolder(c.folder);
            if (holds == "exe") Write(folder + "/ZORVEL_Log3.exe", "MZ");
            if (holds == "db" ) QDir().mkpath(folder + "/DB");
            if (holds == "") QDir().mkpath(folder);
            if (holds == "file") Write(folder, "not a folder");
            if (holds == "lower case") {
                Write(folder + "/zorvel_log3.EXE", "MZ");
                QDir().mkpath(folder + "/db");
            }
            const QString link = folder + "/ZORVEL_Backup";
            QString program = rig.program;
            if (c.link == Ours) QFile::link(rig.program, link);
            if (c.link == Elsewhere) QFile::link("/opt/other/ZORVEL_Backup", link);
            if (c.link == Copy) QFile::copy(rig.program, link);
            if (c.link == Itself) {
                Write(link, "#!/bin/sh\n");
                program = link;
            }
            const QString entry = rig.EntryOf(folder);
            if (c.foreignEntry) Write(entry, "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n");
            const QByteArray entryBefore = QByteArray::fromStdString(testing_support::ReadFile(entry.toStdString()));
            const QString linkBefore = LinkTarget(link);

            const Said first = rig.Setup(folder, program);
            QVERIFY2(first.code == c.exit, qPrintable(why + ": " + first.text));
            QVERIFY2(first.text.contains(c.says), qPrintable(why + ": " + first.text));
            if (c.exit == kExitOk) {
                QVERIFY2(c.link == Itself || LinkTarget(link) == (c.link == Ours ? linkBefore : rig.program), qPrintable(why));
                QVERIFY2(DesktopFileErrors(entry).isEmpty(), qPrintable(why + ": " + DesktopFileErrors(entry)));
                QVERIFY2(first.text.contains("schedule --on-logger-exit"), qPrintable(why + ": " + first.text));
                // Twice is harmless: nothing changes, and it says so.
                const QByteArray entryText = QByteArray::fromStdString(testing_support::ReadFile(entry.toStdString()));
                const QDateTime written = QFileInfo(entry).lastModified();
                const Said again = rig.Setup(folder, program);
                QVERIFY2(again.code == kExitOk && again.text.contains("(was there)"), qPrintable(why + ": " + again.text));
                QCOMPARE(QByteArray::fromStdString(testing_support::ReadFile(entry.toStdString())), entryText);
                QCOMPARE(QFileInfo(entry).lastModified(), written);
            } else {
                // Refused: nothing changed, in the folder or in the menu.
                QVERIFY2(LinkTarget(link) == linkBefore, qPrintable(why));
                QVERIFY2(c.link != None || holds == "file" || !QFileInfo::exists(link), qPrintable(why));
                QCOMPARE(QByteArray::fromStdString(testing_support::ReadFile(entry.toStdString())), entryBefore);
            }

            // --remove takes away what setup made and nothing else.
            const Said removed = rig.Remove(folder, program);
            QVERIFY2(removed.code == kExitOk, qPrintable(why + ": " + removed.text));
            const bool oursLeft = c.exit == kExitOk && (c.link == None || c.link == Ours);
            QVERIFY2(!oursLeft || (!QFileInfo::exists(link) && !IsLink(link)), qPrintable(why + ": " + removed.text));
            if (c.link == Elsewhere) QCOMPARE(LinkTarget(link), QString("/opt/other/ZORVEL_Backup"));
            if (c.link == Copy || c.link == Itself) {
                QVERIFY2(QFileInfo(link).isFile() && !IsLink(link), qPrintable(why));
                QVERIFY2(removed.text.contains("left as it is"), qPrintable(why + ": " + removed.text));
            }
            if (c.foreignEntry) QCOMPARE(QByteArray::fromStdString(testing_support::ReadFile(entry.toStdString())), entryBefore);
            else QVERIFY2(!QFileInfo::exists(entry), qPrintable(why));
        }
    }

    void removeAfterTheFolderIsGone() {
        Rig rig;
        const QString folder = rig.LoggerFolder("Log");
        QCOMPARE(rig.Setup(folder).code, kExitOk);
        QDir(folder).removeRecursively();
        const Said removed = rig.Remove(folder);
        QCOMPARE(removed.code, kExitOk);
        QVERIFY(!QFileInfo::exists(rig.EntryOf(folder)));
        // Nothing left: it says so.
        QVERIFY(rig.Remove(folder).text.contains("Nothing of setup's was there"));
    }

    void allOrNothing() {
        // The menu entry cannot be written (its folder's place is taken by a file): the link goes again.
        Rig rig;
        const QString folder = rig.LoggerFolder("Log");
        Write(rig.apps, "a file where the folder would be");
        const Said said = rig.Setup(folder);
        QCOMPARE(said.code, kExitFailed);
        QVERIFY2(said.text.contains("could not be made"), qPrintable(said.text));
        QVERIFY(!IsLink(folder + "/ZORVEL_Backup"));
    }
};

QTEST_GUILESS_MAIN(SetupCommandTest)
#include "setup_command_test.moc"
