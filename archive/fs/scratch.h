// Scratch files: every temporary file the engine or the program makes.
//
// They all carry one name, ".zbk-" followed by six letters or digits, in the folder where the file is
// needed: beside the archive being written, beside each file being restored, in a program's tmp for a
// registry export. The name is hidden, never matches a backup's name, and the writer's selection never
// takes it, so not even a left-over one can creep into a backup.
//
// While its maker uses a scratch file it holds an exclusive advisory lock (flock) on it, through a
// descriptor of its own opened close-on-exec, so that no child process (a Wine server that stays on, say)
// inherits the lock. A scratch file whose lock nobody holds is the debris of a process that died (a
// crash, a kill, a power cut): RemoveStaleScratchFiles deletes those and leaves the live ones of any
// other running instance alone.
//
// A user's own file may happen to have a name of that form, and the sweep must never take it. So the
// program marks each scratch file it makes with the extended attribute user.zbk-scratch, set through the
// descriptor once the lock is held, and takes the mark off through the descriptor once the file has its
// final name (a file killed between its rename and that step keeps a mark nobody looks at: the sweep
// only looks at scratch names). The sweep deletes a file only when it carries the mark. A file system
// that takes no user extended attributes cannot carry it; there the last three characters of a new name
// are a keyed check of the three before them, and the sweep deletes only names whose check holds (a name
// a user chose fits by a chance of one in 238328). Names of the earlier form, six random characters and
// no mark, are never swept; they still count as scratch names, so they are never backed up.
//
// A sweeper could meet a new file in the instant between its creation and its locking. Where the mark
// is set, the sweeper sees no mark until the lock is held and passes the file by. Where it cannot be
// set, the maker, once it holds the lock, checks that the name still leads to its file; if a sweeper
// took it, it makes another. The sweeper checks the same way before it deletes.
//
// A run that makes many scratch files in few folders (an extraction of thousands of small files) would
// pay a lock and two changes of the mark for each. Such a run makes them as one ScratchRun: in each
// folder it first makes one ordinary scratch file, locked and marked for as long as the run lasts (the
// folder's anchor), and then names each file of the run after it: the anchor's name, "-", a counter and
// a keyed check of both, ".zbk-Ab3x9Q-7kQz". Those files carry no lock and no mark of their own: the
// anchor's lock tells that their maker lives, its mark (or its name's check) that they are ours, and
// their own check that the name was given by us. The sweep removes a run's files only while it holds
// the lock of their anchor, which must be ours and still bear its name, and only then the anchor; a
// file named after an anchor that is not there stays. A run's file put in place is renamed and nothing
// more; its anchor goes once the run and every file of it that is still a scratch file are gone, so a
// killed run leaves its anchor beside its files, and the next sweep takes them all.
#pragma once

#include <memory>
#include <string>

#include "archive/fs/fs.h"

namespace archive::fs {

// The name every scratch file starts with.
inline constexpr char kScratchPrefix[] = ".zbk-";

// Whether a file name (without folder) is a scratch file's: the prefix and six letters or digits, of
// either form, or a run's file named after such a name. A name the writer's selection never takes.
bool IsScratchName(const std::string& fileName);

class ScratchRun;

class ScratchFile {
public:
    ScratchFile() = default;
    // A new, empty, locked and marked scratch file in `folder` (resolved ignoring case; "" is the
    // current folder), with the permissions of any new file (0666 less the umask), since it will be
    // renamed into place. Not Valid() when it cannot be made; errno then tells why.
    static ScratchFile Create(const std::string& folder);
    // The same in a folder held open: made, renamed and removed through its descriptor only.
    static ScratchFile CreateIn(const HeldFolder& folder);
    // The same as a file of `run`: named after the run's anchor in that folder (made with the first
    // such file), without a lock or a mark of its own.
    static ScratchFile CreateIn(const HeldFolder& folder, ScratchRun& run);
    // A second name, a scratch name, for the existing file `name` of a held folder (a hard link), locked
    // and marked: it keeps that file while its own name is given to another, to be put back with
    // PutInPlace(name) or let go with Discard(). The file's mode stays as it was. The lock is the file's
    // own: when another program holds one on it, the second name goes without (marked all the same) rather
    // than wait. Not Valid() when the link cannot be made; errno then tells why.
    static ScratchFile Keep(const HeldFolder& folder, const std::string& name);

    ScratchFile(ScratchFile&& other) noexcept;
    ScratchFile& operator=(ScratchFile&& other) noexcept;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    // Discards the file unless it was released or put in place.
    ~ScratchFile();

    bool Valid() const { return fd_ >= 0; }
    // The open descriptor (read and write, read only for Keep), for writing the file without opening it
    // again; it stays the scratch file's own.
    int Handle() const { return fd_; }
    // Folder and name: for messages, and for callers that still work by path (a file made in a held
    // folder is best handled through Handle() and PutInPlace()).
    const std::string& Path() const { return path_; }
    // The permission bits a file of a run was made with (as its anchor's were), -1 when not known.
    int Mode() const { return mode_; }

    // A file of a held folder: renames it over `target`, a name in the same folder, and takes its mark
    // off. From then on it is that file, no scratch file: the descriptor stays open (for the file's
    // attributes) until Release(), and Discard() deletes nothing. False, and nothing changed, when the
    // rename fails; errno then tells why.
    bool PutInPlace(const std::string& target);
    // After PutInPlace: removes the file from its place again, as long as its name still leads to it
    // (the undoing of a file that had no predecessor). True when the name no longer leads to it; the
    // descriptor is closed either way.
    bool Withdraw() noexcept;

    // The file has been renamed into place and is no scratch file any more: the mark and the lock go,
    // the file stays.
    void Release() noexcept;
    // Deletes the file (while still holding the lock) and lets the lock go; a kept second name takes its
    // mark off the file first, which stays under its other name. Idempotent.
    void Discard() noexcept;

    struct Anchor;

private:
    // A file just made (or linked) in a held folder, open on `fd`, locked, and marked when `marked`.
    static ScratchFile Adopted(const HeldFolder& folder, std::string name, int fd, bool marked);

    HeldFolder folder_;  // held: every operation goes through its descriptor; else by path_
    std::string name_;
    std::string path_;
    int fd_ = -1;
    bool marked_ = false;
    bool placed_ = false;
    int mode_ = -1;
    std::shared_ptr<Anchor> anchor_;  // a run's file, while it is a scratch file
};

// The scratch files of one run, in any number of held folders (see above). Used from one thread. The
// anchors go when the run and the last of its scratch files are gone.
class ScratchRun {
public:
    ScratchRun();
    ~ScratchRun();
    ScratchRun(const ScratchRun&) = delete;
    ScratchRun& operator=(const ScratchRun&) = delete;

private:
    friend class ScratchFile;
    struct Anchors;
    std::unique_ptr<Anchors> anchors_;
};

// Deletes the scratch files directly in `folder` that this program made and whose lock nobody holds;
// returns how many went. A folder that cannot be listed removes nothing.
int RemoveStaleScratchFiles(const std::string& folder);

}  // namespace archive::fs
