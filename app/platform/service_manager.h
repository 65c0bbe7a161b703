// The user's service manager, as `systemctl --user` reaches it: the schedule command writes unit files
// and asks the manager to load, enable, start, stop and disable them.
#pragma once

#include <QString>
#include <QStringList>

namespace app::platform {

struct ManagerAnswer {
    bool started = false;  // the control program could be started at all
    int exitCode = -1;     // valid when started and it ended by itself
    QString out;           // its standard output
    QString err;           // its standard error
};

class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // `systemctl --user <arguments>`, waited for.
    virtual ManagerAnswer Systemctl(const QStringList& arguments) = 0;
    // The control program's name as the user would type it, for messages.
    virtual QString Program() const = 0;
};

// The real systemctl: the program named by the environment variable SYSTEMCTL when it is set (so that
// a test can stand in for it), else `systemctl` from PATH.
class SystemctlManager : public ServiceManager {
public:
    SystemctlManager();
    ManagerAnswer Systemctl(const QStringList& arguments) override;
    QString Program() const override { return program_; }

    // A call that takes longer is cut off (a manager that hangs must not hang the command).
    static constexpr int kTimeoutMs = 120000;

private:
    QString program_;
};

}  // namespace app::platform
