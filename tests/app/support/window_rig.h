// A test rig for the main window: a temporary logger folder (with ZORVEL_Log3.exe unless asked not to),
// a temporary home folder standing in for "c:\", a backups folder, recording fakes of every platform
// service, an in-memory form store shared across restarts, and a record of the error boxes.
//
// Start() builds the real window over all of it, shows it offscreen and lets pending events run, so a
// test sees the window as a user would after start-up. Restart() closes and destroys the window and
// starts a new one over the same store, as a second run of the program would.
//
// Header-only on purpose: every test executable includes it without a build rule of its own.
#pragma once

#include "app/window/main_window.h"
#include "archive/host.h"
#include "tests/app/support/fakes.h"
#include "tests/support/test_support.h"
#include "ui/directory_edit.h"
#include "ui/file_list_box.h"
#include "ui/form_storage.h"
#include "ui/memory_form_store.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <memory>

namespace app::testing {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }

class WindowRig {
public:
    explicit WindowRig(bool loggerExecutable = true) {
        testing_support::MakeDirs(root_ / "Log/DB");
        testing_support::MakeDirs(root_ / "home");
        testing_support::MakeDirs(root_ / "backups");
        if (loggerExecutable) testing_support::WriteFile(root_ / "Log/ZORVEL_Log3.exe", "MZ stand-in");
        oldHome_ = qgetenv("HOME");
        qputenv("HOME", (root_ / "home").c_str());
    }
    ~WindowRig() {
        window.reset();
        qputenv("HOME", oldHome_);
    }
    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    QString Root() const { return Q(root_.Path()); }
    QString LoggerFolder() const { return Q(root_ / "Log/"); }
    QString Home() const { return Q(root_ / "home"); }
    QString Backups() const { return Q(root_ / "backups"); }
    QString Executable() const { return Q(root_ / "Log/ZORVEL_Backup"); }

    // A file (with a few bytes) under the rig's root.
    QString Touch(const QString& relative) {
        testing_support::WriteFile(root_ / relative.toStdString(), "PK\x05\x06 stand-in");
        return Root() + QLatin1Char('/') + relative;
    }

    // The services the window gets; tests may change any part before Make().
    MainWindowServices Services() {
        MainWindowServices services;
        services.platform = fakes.Get();
        services.formStore = store;
        services.executablePath = Executable();
        services.host = &host;
        services.errorBox = [this](const QString& message) { errors.append(message); };
        return services;
    }

    TfmMain& Make() { return Make(Services()); }
    TfmMain& Make(MainWindowServices services) {
        window = std::make_unique<TfmMain>(std::move(services));
        return *window;
    }
    TfmMain& Start() { return Start(Services()); }
    TfmMain& Start(MainWindowServices services) {
        Make(std::move(services));
        window->show();
        QCoreApplication::processEvents();
        return *window;
    }
    TfmMain& Restart() {
        if (window) window->close();
        window.reset();
        return Start();
    }

    // The store's section of the window, as the last save left it.
    QString StoredText(const QString& name) const {
        return store->Text(ui::TFormPlacement::DefaultStorageKey(), QStringLiteral("TfmMain"), name).value_or(QString());
    }
    void PlantStored(const QString& name, const QString& text) {
        store->Plant(ui::TFormPlacement::DefaultStorageKey(), QStringLiteral("TfmMain"), name, text);
    }

    // The catalogue's items, top to bottom.
    QStringList Items() {
        QStringList items;
        for (int i = 0; i < window->FileListBox1->Count(); ++i) items.append(window->FileListBox1->ItemText(i));
        return items;
    }

    fakes::FakeServices fakes;
    std::shared_ptr<ui::MemoryFormStore> store = std::make_shared<ui::MemoryFormStore>();
    archive::DefaultHost host;
    QStringList errors;
    std::unique_ptr<TfmMain> window;

private:
    testing_support::TempDir root_;
    QByteArray oldHome_;
};

// Starts a process that shows up in /proc under `argv0` (bash replaces itself with `sleep`, keeping its
// pid) and waits until it does, so that the guard sees it from its first look.
inline bool StartNamedProcess(QProcess& process, const QString& argv0, double seconds) {
    process.start(QStringLiteral("bash"), {QStringLiteral("-c"),
                                           QStringLiteral("exec -a \"$0\" sleep %1").arg(seconds), argv0});
    if (!process.waitForStarted(5000)) return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 5000) {
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(process.processId()));
        if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith(argv0.toUtf8())) return true;
        QThread::msleep(10);
    }
    return false;
}

// Sleeps for real, but shortened, and counts.
class ShortRealSleeper : public platform::Sleeper {
public:
    explicit ShortRealSleeper(int ms) : ms_(ms) {}
    void Sleep(int) override {
        ++count;
        QThread::msleep(ms_);
    }
    int count = 0;

private:
    int ms_;
};

// Presses a dialog's button by its object name.
inline void PressButton(QWidget* dialog, const char* objectName) {
    if (auto* button = dialog->findChild<QAbstractButton*>(QString::fromLatin1(objectName))) button->click();
}

}  // namespace app::testing
