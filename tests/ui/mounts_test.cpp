// Which mounts the folder dialog offers, from recorded mount tables.
#include "ui/mounts.h"

#include <QtTest>

using namespace ui;

class MountsTest : public QObject {
    Q_OBJECT
private slots:
    void desktopTable() {
        const QString table =
            "sysfs /sys sysfs rw,nosuid 0 0\n"
            "proc /proc proc rw 0 0\n"
            "udev /dev devtmpfs rw 0 0\n"
            "devpts /dev/pts devpts rw 0 0\n"
            "tmpfs /run tmpfs rw 0 0\n"
            "/dev/sda2 / ext4 rw,relatime 0 0\n"
            "tmpfs /dev/shm tmpfs rw 0 0\n"
            "cgroup2 /sys/fs/cgroup cgroup2 rw 0 0\n"
            "/dev/sda1 /boot/efi vfat rw 0 0\n"
            "/dev/sdb1 /media/op/USB\\040STICK vfat rw 0 0\n"
            "/dev/sdc1 /run/media/op/Backup ext4 rw 0 0\n"
            "/dev/sda3 /home ext4 rw 0 0\n"
            "tmpfs /tmp tmpfs rw 0 0\n"
            "binfmt_misc /proc/sys/fs/binfmt_misc binfmt_misc rw 0 0\n"
            "/dev/sda3 /home ext4 rw 0 0\n";
        QCOMPARE(ParseMountedFolders(table), QStringList({"/", "/boot/efi", "/home", "/media/op/USB STICK",
                                                          "/run/media/op/Backup", "/tmp"}));
    }

    void containerTable() {
        const QString table =
            "overlay / overlay rw,lowerdir=/a:/b 0 0\n"
            "/dev/vda1 /work ext4 rw 0 0\n"
            "/dev/vda1 /etc/hosts ext4 rw 0 0\n"
            "garbage\n"
            "\n";
        QCOMPARE(ParseMountedFolders(table), QStringList({"/", "/etc/hosts", "/work"}));
        QCOMPARE(ParseMountedFolders(""), QStringList({"/"}));
    }

    void mountOfAPath() {
        const QStringList mounts = {"/", "/home", "/home/op/net", "/media/op/USB STICK"};
        QCOMPARE(MountOf(mounts, "/home/op/Backups"), QString("/home"));
        QCOMPARE(MountOf(mounts, "/home/op/net/x"), QString("/home/op/net"));
        QCOMPARE(MountOf(mounts, "/home2/x"), QString("/"));
        QCOMPARE(MountOf(mounts, "/"), QString("/"));
        QCOMPARE(MountOf(mounts, "/media/op/USB STICK"), QString("/media/op/USB STICK"));
    }

    void thisMachine() {
        const QStringList mounts = MountedFolders();
        QCOMPARE(mounts.first(), QString("/"));
        QVERIFY(!mounts.contains("/proc"));
    }
};

QTEST_MAIN(MountsTest)
#include "mounts_test.moc"
