// The mounted file systems, which the folder dialog offers where the logger's platform offers drives.
//
// Read from /proc/self/mounts: one line per mount, "device folder type options dump pass", with blanks
// inside names written as octal escapes ("\040"). Kernel and virtual file systems (proc, sysfs, cgroups,
// devpts, ...) and the scratch mounts under /proc, /sys, /dev and /run are left out, except the
// removable-media folders under /run/media; "/" always comes first.
#pragma once

#include <QString>
#include <QStringList>

namespace ui {

// Mount folders of a mounts text, filtered and unescaped, "/" first, the others sorted, no duplicates.
QStringList ParseMountedFolders(const QString& mountsText);
// The folders of this process's mounts that are folders ("/" when the list cannot be read).
QStringList MountedFolders();
// The mount of mounts that holds path: the longest folder that is path or a parent of it.
QString MountOf(const QStringList& mounts, const QString& path);

}  // namespace ui
