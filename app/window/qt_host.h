// The archive engine's host in the product: the engine's boxes and dialogs shown with Qt, its message pump
// running Qt's event loop, its hourglass as Qt's override cursor.
//
// The engine speaks std::string (UTF-8) and its own small enumerations; this class is the only place
// where they meet the toolkit. Boxes and dialogs are modal and centred on the application's active
// window. The file dialog's filter arrives in the engine's "Description|*.pat|Description|*.pat" form
// and is shown as Qt's "Description (*.pat);;..." list.
#pragma once

#include "archive/host.h"

#include <QString>

namespace app {

class QtHost : public archive::Host {
public:
    ~QtHost() override;

    archive::Answer MessageBox(const std::string& caption, const std::string& text,
                               archive::Buttons buttons) override;
    std::optional<std::string> OpenFileDialog(const std::string& title, const std::string& filter,
                                              const std::string& initialDir) override;
    std::optional<std::string> SelectFolderDialog(const std::string& startDir) override;
    void ProcessMessages() override;
    void SetBusyCursor(bool busy) override;

    bool Busy() const { return busy_; }

private:
    bool busy_ = false;  // whether our override cursor is on Qt's cursor stack
};

// "Zip Files (*.ZIP)|*.zip|All Files (*.*)|*.*" -> "Zip Files (*.zip);;All Files (*.*)". A description
// without a pattern after it is dropped; an empty filter gives "".
QString QtFileFilter(const std::string& filter);

}  // namespace app
