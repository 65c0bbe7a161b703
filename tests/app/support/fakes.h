// Recording fakes of every platform service, for tests of the guard, the version stamp and the main
// window's commands. Each fake records what it was asked and answers from a script, so a test can say
// "the logger runs for the first six looks, then is gone; the user answers Yes" and afterwards check
// what was asked, posted, slept and run.
//
// Header-only on purpose: every test executable links it without a build rule of its own.
#pragma once

#include "app/platform/dialogs.h"
#include "app/platform/process_list.h"
#include "app/platform/process_runner.h"
#include "app/platform/registry_snapshot.h"
#include "app/platform/services.h"
#include "app/platform/sleeper.h"
#include "app/platform/version_info.h"
#include "app/platform/web_opener.h"
#include "app/platform/window_closer.h"

#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace app::fakes {

using platform::ProcessEntry;

// A process list answering call by call from a script; once the script is used up, every further
// call gets `afterScript`. `onList`, when set, replaces the script altogether (it gets the 0-based
// call number).
class FakeProcessList : public platform::ProcessList {
public:
    FakeProcessList() = default;
    explicit FakeProcessList(std::vector<std::vector<ProcessEntry>> script, std::vector<ProcessEntry> afterScript = {})
        : script_(std::move(script)), afterScript_(std::move(afterScript)) {}

    // A list holding the logger (and a bystander) for `looks` calls, then only the bystander.
    static FakeProcessList LoggerFor(int looks, const QString& loggerName = QStringLiteral("ZORVEL_Log3.exe")) {
        std::vector<std::vector<ProcessEntry>> script(looks, {{QStringLiteral("bash"), 1}, {loggerName, 4242}});
        return FakeProcessList(std::move(script), {{QStringLiteral("bash"), 1}});
    }
    // A list that always holds these processes.
    static FakeProcessList Always(std::vector<ProcessEntry> processes) { return FakeProcessList({}, std::move(processes)); }

    std::vector<ProcessEntry> ListProcesses() override {
        const int call = calls_++;
        if (onList) return onList(call);
        if (call < static_cast<int>(script_.size())) return script_[call];
        return afterScript_;
    }
    int Calls() const { return calls_; }

    std::function<std::vector<ProcessEntry>(int call)> onList;

private:
    std::vector<std::vector<ProcessEntry>> script_;
    std::vector<ProcessEntry> afterScript_;
    int calls_ = 0;
};

// Counts sleeps instead of sleeping. `onSleep`, when set, runs at each sleep (with the 1-based count),
// for fakes that change state as time passes.
class CountingSleeper : public platform::Sleeper {
public:
    void Sleep(int milliseconds) override {
        sleeps.push_back(milliseconds);
        if (onSleep) onSleep(static_cast<int>(sleeps.size()));
    }
    int Count() const { return static_cast<int>(sleeps.size()); }
    long long TotalMs() const {
        long long total = 0;
        for (int ms : sleeps) total += ms;
        return total;
    }

    std::vector<int> sleeps;
    std::function<void(int count)> onSleep;
};

// Records the window classes asked to close; answers `posted`.
class RecordingWindowCloser : public platform::WindowCloser {
public:
    bool RequestClose(const QString& windowClass) override {
        requests.append(windowClass);
        if (onRequest) onRequest(windowClass);
        return posted;
    }
    QStringList requests;
    bool posted = true;
    std::function<void(const QString&)> onRequest;
};

// Answers confirmations from a queue (then `defaultAnswer`) and records every box in order.
class ScriptedDialogs : public platform::Dialogs {
public:
    enum class Kind { Confirm, Inform, Warn };
    struct Box {
        Kind kind;
        QString text;
    };

    explicit ScriptedDialogs(std::deque<bool> answers = {}, bool defaultAnswer = true)
        : answers(std::move(answers)), defaultAnswer(defaultAnswer) {}

    bool Confirm(const QString& text) override {
        boxes.push_back({Kind::Confirm, text});
        if (answers.empty()) return defaultAnswer;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void Inform(const QString& text) override { boxes.push_back({Kind::Inform, text}); }
    void Warn(const QString& text) override { boxes.push_back({Kind::Warn, text}); }

    QStringList Texts(Kind kind) const {
        QStringList texts;
        for (const Box& box : boxes)
            if (box.kind == kind) texts.append(box.text);
        return texts;
    }
    QStringList Questions() const { return Texts(Kind::Confirm); }
    QStringList Informations() const { return Texts(Kind::Inform); }
    QStringList Warnings() const { return Texts(Kind::Warn); }

    std::deque<bool> answers;
    bool defaultAnswer;
    std::vector<Box> boxes;
};

// Records exports and imports. An export answers `exportResult` and, when `exportWrites` is set,
// writes a small stand-in snapshot into the file (so archives built from it have the entry).
class RecordingRegistrySnapshot : public platform::RegistrySnapshot {
public:
    struct Export {
        QString key;
        QString file;
    };

    bool ExportKey(const QString& key, const QString& file) override {
        exports.push_back({key, file});
        lastProblem = problem;
        if (exportResult && exportWrites) {
            QFile out(file);
            if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                out.write(QByteArray("Windows Registry Editor Version 5.00\r\n\r\n[") + key.toUtf8() + "]\r\n" + values);
            }
        }
        return exportResult;
    }
    void ImportFile(const QString& file) override {
        imports.append(file);
        lastProblem = importProblems.value(QFileInfo(file).fileName(), problem);
    }
    QString LastProblem() const override { return lastProblem; }

    std::vector<Export> exports;
    QStringList imports;
    QString problem;  // what LastProblem answers after each call
    QMap<QString, QString> importProblems;  // by file name: what it answers after importing that file instead
    QString lastProblem = problem;
    bool exportResult = true;
    bool exportWrites = true;
    QByteArray values;  // what each snapshot holds below its key's line
};

// Records the addresses asked to open.
class RecordingWebOpener : public platform::WebOpener {
public:
    void OpenWebPage(const QString& address) override { addresses.append(address); }
    QStringList addresses;
};

// A fixed version and time; records the paths asked about.
class FakeVersionInfo : public platform::VersionInfo {
public:
    QString FileVersion(const QString& executablePath) override {
        paths.append(executablePath);
        return version;
    }
    std::optional<QDateTime> LastWriteTime(const QString& executablePath) override {
        paths.append(executablePath);
        return time;
    }
    QString version = QStringLiteral("3.0.0.1");
    std::optional<QDateTime> time = QDateTime(QDate(2026, 12, 6), QTime(10, 38));
    QStringList paths;
};

// Records every run; answers `result`, after calling `onRun` (which may, say, write the file an
// export names, or change `result` for this run).
class RecordingProcessRunner : public platform::ProcessRunner {
public:
    RecordingProcessRunner() { result.started = result.exited = true, result.exitCode = 0; }
    platform::RunResult RunAndWait(const platform::RunRequest& request) override {
        requests.push_back(request);
        platform::RunResult answer = result;
        if (onRun) onRun(request, answer);
        return answer;
    }
    std::vector<platform::RunRequest> requests;
    platform::RunResult result;
    std::function<void(const platform::RunRequest&, platform::RunResult&)> onRun;
};

// Passes every run on to another runner and records it: a real runner with a log.
class LoggingProcessRunner : public platform::ProcessRunner {
public:
    explicit LoggingProcessRunner(platform::ProcessRunner& inner) : inner_(inner) {}
    platform::RunResult RunAndWait(const platform::RunRequest& request) override {
        requests.push_back(request);
        return inner_.RunAndWait(request);
    }
    std::vector<platform::RunRequest> requests;

private:
    platform::ProcessRunner& inner_;
};

// One of every fake, bundled the way the application takes its services. By default the logger is
// not running and every question is answered Yes.
struct FakeServices {
    FakeProcessList processes;
    RecordingWindowCloser windowCloser;
    CountingSleeper sleeper;
    ScriptedDialogs dialogs;
    RecordingRegistrySnapshot registry;
    RecordingWebOpener web;
    FakeVersionInfo version;

    platform::Services Get() {
        platform::Services services;
        services.processes = &processes;
        services.windowCloser = &windowCloser;
        services.sleeper = &sleeper;
        services.dialogs = &dialogs;
        services.registry = &registry;
        services.web = &web;
        services.version = &version;
        return services;
    }
};

}  // namespace app::fakes
