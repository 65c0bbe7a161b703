// The helper's exit code tells the outcome: 0 posted, 1 no such window, anything else a failure.
#include "app/platform/wine_window_closer.h"

#include "app/platform/wine_prefix.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace app::platform {

QString DefaultCloseWindowHelperPath() {
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(kCloseWindowHelper);
}

WineWindowCloser::WineWindowCloser(std::function<QString()> loggerFolder, ProcessRunner& runner,
                                   QString wineProgram, QString helperPath)
    : loggerFolder_(std::move(loggerFolder)),
      runner_(runner),
      wineProgram_(std::move(wineProgram)),
      helperPath_(std::move(helperPath)) {}

std::optional<RunRequest> WineWindowCloser::HelperRun(const QString& windowClass) {
    if (helperPath_.isEmpty() || !QFileInfo(helperPath_).isFile()) return std::nullopt;
    auto request = WineRunInLoggerPrefix(loggerFolder_(), wineProgram_,
                                         {QFileInfo(helperPath_).absoluteFilePath(), windowClass},
                                         CurrentEnvironment());
    if (request) request->timeoutMs = kHelperTimeoutMs;
    return request;
}

bool WineWindowCloser::RequestClose(const QString& windowClass) {
    auto request = HelperRun(windowClass);
    if (!request) return false;
    const RunResult result = runner_.RunAndWait(*request);
    return result.started && result.exited && result.exitCode == 0;
}

void WineWindowCloser::StartCloseRequest(const QString& windowClass) {
    if (auto request = HelperRun(windowClass)) runner_.Start(*request);
}

}  // namespace app::platform
