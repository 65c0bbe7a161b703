// Desktop notifications: how work nobody watches (the watcher, a timer's backup) tells its user that a
// backup failed or is incomplete, where no terminal shows it.
//
// A notification that cannot be shown (no desktop session, no notification service) is no error of
// the work itself: the caller says so in one line and goes on.
#pragma once

#include <QString>

namespace app::platform {

struct Notification {
    QString summary;
    QString body;          // plain text
    bool urgent = false;   // a failure: kept on screen until dismissed, where the desktop does that
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // Shows the notification; false when it could not be shown, and LastProblem() says why.
    virtual bool Notify(const Notification& notification) = 0;
    virtual QString LastProblem() const = 0;
};

}  // namespace app::platform
