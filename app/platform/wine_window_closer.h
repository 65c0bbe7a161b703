// WindowCloser for a logger running under Wine.
//
// A Wine program's windows live in its Wine session and are invisible from Linux, so the request is
// made from inside: a tiny Win32 helper (win32/close_window.c, built with mingw-w64 beside our own
// executable) runs in the logger's prefix, looks the window up by class and posts WM_CLOSE to it.
// Without the helper, without `wine`, or when the logger folder lies in no Wine prefix, no request
// is posted.
#pragma once

#include "app/platform/process_runner.h"
#include "app/platform/window_closer.h"

#include <functional>
#include <optional>

namespace app::platform {

// The helper's file name, next to the ZORVEL_Backup executable.
inline constexpr char kCloseWindowHelper[] = "zb_close_window.exe";

// The helper's full path for the running program (beside QCoreApplication's executable).
QString DefaultCloseWindowHelperPath();

class WineWindowCloser : public WindowCloser {
public:
    // The helper finds and posts in well under a second; a Wine that hangs must not stall the guard
    // for ever, so its run is cut off after this long.
    static constexpr int kHelperTimeoutMs = 30000;

    WineWindowCloser(std::function<QString()> loggerFolder, ProcessRunner& runner, QString wineProgram,
                     QString helperPath);

    bool RequestClose(const QString& windowClass) override;
    // The helper is started and left to run beside the caller (Wine may take seconds to start it).
    void StartCloseRequest(const QString& windowClass) override;

private:
    std::optional<RunRequest> HelperRun(const QString& windowClass);

    std::function<QString()> loggerFolder_;
    ProcessRunner& runner_;
    QString wineProgram_;
    QString helperPath_;
};

}  // namespace app::platform
