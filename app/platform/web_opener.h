// Opening a web address in the user's web browser. Failures are not reported: the About command
// simply does nothing visible when no browser can be found.
#pragma once

#include <QString>

namespace app::platform {

class WebOpener {
public:
    virtual ~WebOpener() = default;
    virtual void OpenWebPage(const QString& address) = 0;
};

// The desktop's own browser, through Qt's desktop services (xdg-open on Linux).
class DesktopWebOpener : public WebOpener {
public:
    void OpenWebPage(const QString& address) override;
};

}  // namespace app::platform
