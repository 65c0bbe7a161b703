// An address that is not a valid URL is not handed to the desktop at all.
#include "app/platform/web_opener.h"

#include <QDesktopServices>
#include <QUrl>

namespace app::platform {

void DesktopWebOpener::OpenWebPage(const QString& address) {
    const QUrl url(address, QUrl::StrictMode);
    if (address.isEmpty() || !url.isValid()) return;
    QDesktopServices::openUrl(url);
}

}  // namespace app::platform
