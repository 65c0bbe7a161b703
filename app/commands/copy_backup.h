// A second place for a new backup (`backup --copy-to DIR`): a disk that dies takes only one copy along.
//
// The copy is byte for byte the new backup, written under a scratch name in the copy folder, flushed,
// read back there and compared with the original (which was itself read back whole before it was named),
// then renamed into place and the folder flushed. A copy folder that is missing (a USB stick unplugged)
// or full, or a copy that does not read back, leaves no file behind there and never touches the backup
// itself: the run is done in part and says why.
#pragma once

#include <QString>

namespace app {

struct CopyOutcome {
    QString path;     // the copy, when it was made
    QString problem;  // why not, as a sentence, when it was not
};

CopyOutcome CopyBackup(const QString& archivePath, const QString& copyFolder);

}  // namespace app
