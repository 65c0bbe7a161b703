// Steps and texts the create and restore commands share, whichever face drives them.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>

namespace archive {
class TVCLUnZip;
class TVCLZip;
}  // namespace archive

namespace app {

// The writer as the window has it by design: recreate folders, replace existing files, store paths,
// rebuild an archive of the same name in place.
void ConfigureBackupWriter(archive::TVCLZip& zip);
// The reader as the window has it by design: replace existing files, flush what it wrote.
void ConfigureRestoreReader(archive::TVCLUnZip& unzip);

// Removes the stale scratch files (debris of a run that died) from the backup folder and from the logger
// folder and every folder below it (a restore writes into any of them; links are not followed). Live
// ones of a running instance stay. In the logger's tmp also the registry exports of a run that died
// (StaleRegistryExport).
void RemoveStaleScratchFiles(const QString& loggerFolder, const QString& backupFolder);

// Whether a file of the logger's tmp is a registry export of a run that died: a scratch file's name,
// no lock held on it, and what the registry editor writes (its first line, in UTF-16 or 8-bit
// characters), or nothing yet. A run killed while the editor exports leaves the editor running: it
// makes the file anew after the sweep took the scratch file, without the scratch file's mark, and only
// its name and its content tell whose it is. `head` is the file's first bytes.
bool StaleRegistryExport(const QString& fileName, bool locked, const QByteArray& head);

// Deletes from the logger's tmp the files a run makes there, and nothing else: the two registry
// snapshots and the window's settings scratch file. Whatever else lies in tmp is not ours.
void DeleteOwnTmpFiles(const QString& loggerFolder);

// Empty when the logger's tmp may be written into; otherwise why not, as a sentence: a tmp that is a
// symbolic link leading out of the logger folder is someone else's folder.
QString TmpFolderProblem(const QString& loggerFolder);

// `path` below the logger folder as the user knows it ("DB/Logs.mdb"); other paths as they are.
QString LoggerRelative(const QString& loggerFolder, const QString& path);

// The disk that holds `path` (or its nearest existing folder), for messages: "The disk mounted at /x
// (123 kB free)".
QString DiskOf(const QString& path);

// Whether an error number says the disk is full.
bool IsDiskFull(int errorNumber);

// Adds `handler` to an engine event: the handler set before still runs, first.
template <typename Event, typename Handler>
void Chain(Event& event, Handler handler) {
    event = [saved = event, handler](auto&&... args) {
        if (saved) saved(args...);
        handler(args...);
    };
}

// Sets an engine event for the life of the object and puts the earlier handler back afterwards; the
// earlier handler still runs, before the new one.
template <typename Event>
class ScopedHandler {
public:
    template <typename Handler>
    ScopedHandler(Event& event, Handler handler) : event_(event), saved_(event) {
        Chain(event_, std::move(handler));
    }
    ~ScopedHandler() { event_ = saved_; }
    ScopedHandler(const ScopedHandler&) = delete;
    ScopedHandler& operator=(const ScopedHandler&) = delete;

private:
    Event& event_;
    Event saved_;
};

}  // namespace app
