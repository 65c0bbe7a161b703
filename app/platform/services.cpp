// Wiring of the Linux services. `wine` is looked up once, at start.
#include "app/platform/services.h"

#include "app/platform/message_box_dialogs.h"
#include "app/platform/wine_prefix.h"

namespace app::platform {

LinuxServices::LinuxServices(std::function<QString()> loggerFolder) : dialogs_(std::make_unique<MessageBoxDialogs>()) {
    const QString wine = FindWineProgram();
    windowCloser_ = std::make_unique<WineWindowCloser>(loggerFolder, runner_, wine, DefaultCloseWindowHelperPath());
    registry_ = std::make_unique<WineRegistrySnapshot>(std::move(loggerFolder), runner_, wine);
    services_.processes = &processes_;
    services_.windowCloser = windowCloser_.get();
    services_.sleeper = &sleeper_;
    services_.dialogs = dialogs_.get();
    services_.registry = registry_.get();
    services_.web = &web_;
    services_.version = &version_;
}

LinuxServices::~LinuxServices() = default;

void LinuxServices::SetDialogParent(QWidget* parent) { dialogs_->SetParent(parent); }

}  // namespace app::platform
