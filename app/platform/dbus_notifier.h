// Notifications through the freedesktop notification service on the session bus
// (org.freedesktop.Notifications, method Notify), as every Linux desktop offers it.
//
// The body is plain text; a service that reads markup in bodies gets it escaped, so that a path with
// "&" or "<" shows as it is. Without a session bus (a cron job, a machine without a desktop) nothing is
// started to provide one: the notification is simply not shown.
#pragma once

#include "app/platform/notifier.h"

namespace app::platform {

class DBusNotifier : public Notifier {
public:
    // The name the desktop shows as the sender.
    explicit DBusNotifier(QString applicationName);
    bool Notify(const Notification& notification) override;
    QString LastProblem() const override { return problem_; }

    // How long a call may take before the service counts as absent.
    static constexpr int kCallTimeoutMs = 10000;

private:
    QString applicationName_;
    QString problem_;
};

}  // namespace app::platform
