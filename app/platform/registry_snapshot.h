// Snapshots of the logger's registry keys as registry-editor export files (".reg").
//
// The program never reads or writes the logger's keys itself: the system's registry editor exports a
// key with all its subkeys and values into a file, and imports such a file again without questions.
// The files are opaque to us; they only travel inside the backup archive.
#pragma once

#include <QString>

namespace app::platform {

class RegistrySnapshot {
public:
    virtual ~RegistrySnapshot() = default;
    // Writes `key` ("HKEY_CURRENT_USER\Software\...") into `file`. True when the editor ran to its
    // end; false when it could not run, and then no file is made. A key that does not exist leaves
    // the editor to decide (it writes nothing).
    virtual bool ExportKey(const QString& key, const QString& file) = 0;
    // Merges `file` into the registry. Nothing happens when the file does not exist or the editor
    // cannot run; nothing is reported either way.
    virtual void ImportFile(const QString& file) = 0;
    // Why the last ExportKey or ImportFile did not do its work ("the logger folder lies in no Wine
    // prefix", "regedit failed with exit code 3"); empty when it did, when there was nothing to do (a key
    // that does not exist, a file that is not there), or when the service cannot tell.
    virtual QString LastProblem() const { return {}; }
};

}  // namespace app::platform
