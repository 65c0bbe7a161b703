// The program's own modal boxes: a confirmation with Yes and No, an information box with OK, and a
// warning box with OK for work that was not done (or not done whole).
// The window and the guard ask through this interface, so tests answer with a script.
#pragma once

#include <QString>

namespace app::platform {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A confirmation box with Yes and No; true for Yes. Closing the box counts as No.
    virtual bool Confirm(const QString& text) = 0;
    // An information box with OK.
    virtual void Inform(const QString& text) = 0;
    // A warning box with OK.
    virtual void Warn(const QString& text) = 0;
};

}  // namespace app::platform
