// A second place for a new backup (`backup --copy-to DIR`): a disk that dies takes only one copy along.
//
// The copy is byte for byte the new backup, written under a scratch name in the copy folder, flushed,
// read back there and compared with the original (which was itself read back whole before it was named),
// then renamed into place and the folder flushed. A copy folder that is missing (a USB stick unplugged)
// or full, or a copy that does not read back, leaves no file behind there and never touches the backup
// itself: the run is done in part and says why.
#pragma once

#include <QString>

#include <functional>
#include <string>

namespace app {

struct CopyOutcome {
    QString path;     // the copy, when it was made
    QString problem;  // why not, as a sentence, when it was not
};

// `written`, when given, is told the scratch file's path once the copy is written and flushed, before
// it is read back (a test spoils the copy there, as a failing disk would).
CopyOutcome CopyBackup(const QString& archivePath, const QString& copyFolder,
                       const std::function<void(const std::string& scratchPath)>& written = {});

}  // namespace app
