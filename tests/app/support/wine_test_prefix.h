// A real, fresh Wine prefix in a scratch folder, for tests that run Wine for real.
//
// Making one (wineboot -i) takes about ten seconds, so a test executable makes one in initTestCase and
// reuses it. Where Wine cannot run here, SkipReason() says why and the tests skip visibly. Every Wine
// command runs with WINEDEBUG=-all and a UTF-8 character set, so non-ASCII arguments arrive intact.
// At the end the prefix's wineserver is stopped and the folder removed.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

namespace app::fakes {

class WineTestPrefix {
public:
    struct Output {
        bool finished = false;
        int exitCode = -1;
        QByteArray out;  // standard output
    };

    // `headlessWindows`: switch the prefix to Wine's null graphics driver, so programs can make
    // (invisible) windows without a display.
    explicit WineTestPrefix(bool headlessWindows = false) {
        wine_ = QStandardPaths::findExecutable(QStringLiteral("wine"));
        wineserver_ = QStandardPaths::findExecutable(QStringLiteral("wineserver"));
        if (wine_.isEmpty()) {
            skip_ = QStringLiteral("wine is not installed (scripts/setup.sh installs it)");
            return;
        }
        dir_ = std::make_unique<QTemporaryDir>();
        prefix_ = QFileInfo(dir_->path()).canonicalFilePath() + QStringLiteral("/wine prefix");
        QElapsedTimer timer;
        timer.start();
        const Output boot = Run(QStringLiteral("wineboot"), {QStringLiteral("-i")}, 300000);
        if (headlessWindows) {
            Wine({"reg", "add", "HKCU\\Software\\Wine\\Drivers", "/v", "Graphics", "/d", "null", "/f"});
        }
        // The registry files appear when the wineserver writes them on its way out; a restart also
        // makes the graphics setting take effect.
        WaitForServer();
        bootMs_ = timer.elapsed();
        if (!boot.finished || boot.exitCode != 0 || !QFileInfo(prefix_ + QStringLiteral("/system.reg")).isFile() ||
            !QFileInfo(prefix_ + QStringLiteral("/user.reg")).isFile() || !QFileInfo(prefix_ + QStringLiteral("/drive_c")).isDir()) {
            skip_ = QStringLiteral("wineboot could not make a prefix here (exit %1)").arg(boot.exitCode);
        }
    }

    ~WineTestPrefix() {
        if (!prefix_.isEmpty() && !wineserver_.isEmpty()) Run(wineserver_, {QStringLiteral("-k")}, 30000);
    }

    WineTestPrefix(const WineTestPrefix&) = delete;
    WineTestPrefix& operator=(const WineTestPrefix&) = delete;

    // Empty when the prefix is ready; else why Wine tests cannot run.
    const QString& SkipReason() const { return skip_; }
    const QString& Prefix() const { return prefix_; }
    const QString& WineProgram() const { return wine_; }
    qint64 BootMs() const { return bootMs_; }
    // The scratch folder holding the prefix (for things that must lie outside it).
    QString Scratch() const { return QFileInfo(dir_->path()).canonicalFilePath(); }

    QProcessEnvironment Environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), prefix_);
        env.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
        // No Mono or Gecko installer prompts, no menu entries or file associations in the user's home.
        env.insert(QStringLiteral("WINEDLLOVERRIDES"), QStringLiteral("mscoree,mshtml=;winemenubuilder.exe=d"));
        env.remove(QStringLiteral("LC_ALL"));
        env.insert(QStringLiteral("LC_CTYPE"), QStringLiteral("C.UTF-8"));
        return env;
    }

    // wine <arguments>, waited for.
    Output Wine(const QStringList& arguments, int timeoutMs = 120000) { return Run(wine_, arguments, timeoutMs); }

    // Waits until the prefix's wineserver has ended (it lingers a few seconds after the last program).
    void WaitForServer() {
        if (!wineserver_.isEmpty()) Run(wineserver_, {QStringLiteral("-w")}, 120000);
    }

    Output Run(const QString& program, const QStringList& arguments, int timeoutMs) {
        Output output;
        QProcess process;
        process.setProcessEnvironment(Environment());
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments);
        if (!process.waitForStarted(30000)) return output;
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished(5000);
            return output;
        }
        output.finished = process.exitStatus() == QProcess::NormalExit;
        output.exitCode = process.exitCode();
        output.out = process.readAllStandardOutput();
        return output;
    }

private:
    QString wine_;
    QString wineserver_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString prefix_;
    QString skip_;
    qint64 bootMs_ = 0;
};

}  // namespace app::fakes
