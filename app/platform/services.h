// The platform services the application's commands use, handed to them as one bundle.
//
// `Services` only points at the services; whoever builds it owns them. The product builds a
// `LinuxServices`; tests build a bundle of recording fakes.
#pragma once

#include "app/platform/dialogs.h"
#include "app/platform/linux_process_list.h"
#include "app/platform/process_list.h"
#include "app/platform/qt_process_runner.h"
#include "app/platform/registry_snapshot.h"
#include "app/platform/sleeper.h"
#include "app/platform/version_info.h"
#include "app/platform/web_opener.h"
#include "app/platform/window_closer.h"
#include "app/platform/wine_registry_snapshot.h"
#include "app/platform/wine_window_closer.h"

#include <functional>
#include <memory>

class QWidget;

namespace app::platform {

class MessageBoxDialogs;

struct Services {
    ProcessList* processes = nullptr;
    WindowCloser* windowCloser = nullptr;
    Sleeper* sleeper = nullptr;
    Dialogs* dialogs = nullptr;
    RegistrySnapshot* registry = nullptr;
    WebOpener* web = nullptr;
    VersionInfo* version = nullptr;
};

// The real services on Linux. `loggerFolder` is asked on every registry or window request, so the
// Wine prefix follows the logger folder the window currently shows.
class LinuxServices {
public:
    explicit LinuxServices(std::function<QString()> loggerFolder);
    ~LinuxServices();
    LinuxServices(const LinuxServices&) = delete;
    LinuxServices& operator=(const LinuxServices&) = delete;

    const Services& Get() const { return services_; }
    // The boxes are centred on this window once it exists.
    void SetDialogParent(QWidget* parent);

private:
    QtProcessRunner runner_;
    LinuxProcessList processes_;
    EventLoopSleeper sleeper_;
    std::unique_ptr<MessageBoxDialogs> dialogs_;  // the widgets stay out of this header
    DesktopWebOpener web_;
    BuildVersionInfo version_;
    std::unique_ptr<WineWindowCloser> windowCloser_;
    std::unique_ptr<WineRegistrySnapshot> registry_;
    Services services_;
};

}  // namespace app::platform
