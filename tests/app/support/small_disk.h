// A small tmpfs mounted over a folder for the life of the object, to fill a disk for real (we run as
// root; where mounting is not allowed, Mounted() is false and the test says it is skipped).
#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <sys/mount.h>

namespace app::testing {

class SmallDisk {
public:
    SmallDisk(const QString& folder, int kilobytes) : folder_(folder) {
        QDir().mkpath(folder);
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k";
        mounted_ = ::mount("zbtest", QFile::encodeName(folder).constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_) ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mounted_; }

private:
    QString folder_;
    bool mounted_ = false;
};

}  // namespace app::testing
