// File services with the semantics of the platform Windows programs were written for, on POSIX.
//
// Windows programs treat DB, db and Db as one folder and keep MS-DOS attributes and MS-DOS times.
// These services give the engine (and the user-interface lists) that view of a POSIX file
// system:
//  - paths use '/' as separator; a path the program formed is resolved one component at a time: the exact
//    name when it exists, else the one entry of that folder whose name equals it ignoring A-Z case
//    (with several such entries the first in byte order wins). Components that exist in no case are kept
//    as written, so a resolved path can name a file that is about to be created.
//  - attribute words: folder 0x10 from the item's type and read-only 0x01 when the owner may not write,
//    always; hidden 0x02 for names starting with "."; the other bits from the user.DOSATTRIB extended
//    attribute where it holds the text form Wine writes ("0x22"), else archive 0x20 for files; a word
//    left empty reads as 0x80 (normal). Setting read-only changes the mode; the other bits go to
//    user.DOSATTRIB where the file system takes it (removed again when it would say only the derived).
//  - MS-DOS date and time (date in the high 16 bits) from and to the modification time, in local time.
//
// Every function takes paths as the program formed them and resolves them itself.
//
// On Windows (archive/fs/win32) the file system is the platform's own: paths still use '/' ("C:/Users/x"),
// names match ignoring case by the system's rule, the attribute word is the system's (no name is hidden
// for its dot, a cleared archive bit stays cleared), and descriptors are the C runtime's over the
// system's handles. Everything the rest of the engine does with an open file is in file_io.h.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace archive::fs {

constexpr char kSeparator = '/';

// Attribute bits.
constexpr uint32_t faReadOnly = 0x01;
constexpr uint32_t faHidden = 0x02;
constexpr uint32_t faSysFile = 0x04;
constexpr uint32_t faVolumeID = 0x08;
constexpr uint32_t faDirectory = 0x10;
constexpr uint32_t faArchive = 0x20;
constexpr uint32_t faNormal = 0x80;

// ---- paths -------------------------------------------------------------------------------------------

// Case-insensitive resolution of a formed path (see above). "" stays "".
std::string Resolve(const std::string& path);

// While alive, Resolve() on this thread lists each folder once and answers later case-folded lookups in
// it from memory; creations, renames and removals made through these file services on this thread keep
// it true. For one operation that creates many names in few folders (an extraction).
class FolderListingCache {
public:
    FolderListingCache();
    ~FolderListingCache();
    FolderListingCache(const FolderListingCache&) = delete;
    FolderListingCache& operator=(const FolderListingCache&) = delete;
    struct Listings;

private:
    std::unique_ptr<Listings> listings_;
};

// Folder part including its trailing separator ("/a/b/c.txt" -> "/a/b/"; "c.txt" -> "").
std::string ExtractFilePath(const std::string& path);
// Part after the last separator.
std::string ExtractFileName(const std::string& path);
// Extension including its dot, taken from the file name part ("" when none).
std::string ExtractFileExt(const std::string& path);
// Replaces (or appends) the extension of the file name part; ext includes its dot.
std::string ChangeFileExt(const std::string& path, const std::string& ext);
// Appends a separator unless there is one; "" stays "" (an empty folder part means the current folder).
std::string IncludeTrailingSeparator(const std::string& path);
// Removes one trailing separator unless the path is the root "/".
std::string ExcludeTrailingSeparator(const std::string& path);
// The components of a '/'-separated path, in order, without empty ones (doubled or leading separators)
// and without "."; ".." stays, for the caller to judge. The one splitter of the engine.
std::vector<std::string> PathComponents(const std::string& path);
// Absolute path against the current folder, with "." and ".." components folded on the text (no disk
// access, no case resolution); a trailing separator is kept; "" stays "".
std::string ExpandFileName(const std::string& path);

// The current folder, without a trailing separator ("" when it cannot be read).
std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& path);
// The user's home folder ($HOME, else the password database), without a trailing separator
// (stands in for "c:\" defaults).
std::string HomeDirectory();

// The characters of bytes 0x80-0xFF of the system's OEM code page, the code page of names stored
// without the UTF-8 flag. None where the system has no such page (POSIX: the engine then uses CP437,
// the page other ZIP tools assume) or where it is not a single-byte page (the East Asian ones: CP437
// too, as before).
std::optional<std::array<char32_t, 128>> OemCodePageHigh();
// The system's temporary folder, with a trailing separator.
std::string TempDirectory();

// ---- existence, attributes, times ---------------------------------------------------------------------

bool Exists(const std::string& path);           // anything
bool FileExists(const std::string& path);       // not a folder
bool DirectoryExists(const std::string& path);  // a folder

// Attribute word, or nullopt when the path names nothing.
std::optional<uint32_t> GetAttributes(const std::string& path);
bool SetAttributes(const std::string& path, uint32_t attributes);
// SetAttributes for a file this program made and holds open on `fd`, which carries (or is about to carry)
// the file name `name`; its user.DOSATTRIB is written by nothing else. `knownMode`: the file's permission
// bits when the caller knows them (a file it has just made, ScratchFile::Mode()), -1 to have them read.
bool SetAttributesOf(int fd, const std::string& name, uint32_t attributes, int knownMode = -1);

std::optional<int64_t> GetFileSize(const std::string& path);
// Last-write time in MS-DOS form (local time), or nullopt when the path names nothing.
std::optional<uint32_t> GetFileDosTime(const std::string& path);
bool SetFileDosTime(const std::string& path, uint32_t dosDateTime);
// The same through an open descriptor.
bool SetFileDosTimeOf(int fd, uint32_t dosDateTime);
// The last-write time of an open file as a POSIX time (TimeFromDos of an MS-DOS one: a run that sets the
// same time on many files converts it once).
bool SetFileTimeOf(int fd, std::time_t time);
// Last-write time as POSIX seconds, or nullopt.
std::optional<std::time_t> GetFileTime(const std::string& path);

// MS-DOS date-time (date in the high half) of a POSIX time, in local time. Times before 1980 give
// 1980-01-01 00:00:00, times after 2107 give 2107-12-31 23:59:58; seconds are rounded down to even.
uint32_t DosFromTime(std::time_t t);
// POSIX time of an MS-DOS date-time read as local time; invalid fields are taken as mktime normalises them.
std::time_t TimeFromDos(uint32_t dosDateTime);

// ---- folders ------------------------------------------------------------------------------------------

struct DirEntry {
    std::string name;      // as stored on disk
    uint32_t attributes;   // attribute word as GetAttributes gives it
    int64_t size;          // 0 for folders
    uint32_t dosTime;      // last-write time, MS-DOS form
};

// Every item of a folder except "." and ".." (hidden ones included), in the order the file system
// delivers them. False (and nothing listed) when the folder cannot be listed.
bool ListDirectory(const std::string& path, std::vector<DirEntry>& out);

// Creates the folder with all missing parents; levels that cannot be created are skipped.
// True when the folder exists afterwards.
bool ForceDirectories(const std::string& path);

enum class BeneathResult;

// A folder held open, so that names are made, renamed and removed in the folder that was opened, not
// wherever its path leads by then (another process may swap a folder for a symbolic link at any
// moment). Copies share one descriptor, closed with the last of them.
class HeldFolder {
public:
    HeldFolder() = default;
    // The folder `path` names (resolved ignoring case, links followed: the path is the caller's choice);
    // "" is the current folder. Not Valid() when it cannot be opened.
    static HeldFolder Open(const std::string& path);

    // Held open (a folder not there yet, as the walk below hands it back, has a path only).
    bool Valid() const;
    int Fd() const;
    // The folder as it was reached: "" (the current folder) or ending with '/'. For messages, events
    // and the folder listings of Resolve(); no file service resolves it again.
    const std::string& Path() const;
    // The longest name the folder's file system takes (asked once).
    long NameMax() const;

    // What a name of the folder is: nothing, a file (or anything else that is no folder), or a folder
    // (a symbolic link counts as what it leads to).
    struct Item {
        std::string name;  // as the disk spells it
        bool exists = false;
        bool folder = false;
        bool readOnly = false;
    };
    // The item named `name`, resolved ignoring case as Resolve() does it: the name as written when it
    // is there, else the entry equal to it ignoring A-Z case (the smallest in byte order), else the name
    // as written, not existing.
    Item Find(const std::string& name) const;
    // Removes the file `name` when it is still the file open on `fd`. True when the name no longer leads
    // to that file (removed now, or already gone or replaced).
    bool RemoveIfSame(const std::string& name, int fd) const;
    // Device and inode number of the folder, telling two holds of one folder apart from two folders
    // ({0, 0} when it is not held).
    std::pair<uint64_t, uint64_t> Identity() const;

    // Takes over `fd`, an open descriptor of the folder reached as `path` (-1: the path alone).
    static HeldFolder Adopt(int fd, std::string path);

    struct State;

private:
    // The walk below a destination may hold more than the folder it hands back (Windows).
    friend BeneathResult FolderBeneath(const std::string&, const std::string&, bool, HeldFolder&);
    std::shared_ptr<State> state_;
};

// The folder `relative` (components separated by '/') below `destination`, walked one component at a
// time without following symbolic links, made where missing when `create`. A component that is a link is
// entered only when it leads to a place inside the destination. The destination itself is followed as it
// stands. Ok hands back the folder held open, or, without `create`, a folder that is not there yet as
// its path alone (not Valid(); nothing below a missing folder can be a link).
enum class BeneathResult { Ok, LeavesDestination, CannotCreate };
BeneathResult FolderBeneath(const std::string& destination, const std::string& relative, bool create,
                            HeldFolder& folder);

// ---- files --------------------------------------------------------------------------------------------

bool DeleteFile(const std::string& path);
bool RemoveDirectory(const std::string& path);
// Renames over an existing target (atomically on one file system). The target is resolved, so it
// replaces the entry equal to it ignoring case; a rename that only changes the case of a name works.
bool RenameFile(const std::string& from, const std::string& to);
// Copies the whole file `source` into the open descriptor `fd` (written from its start) and flushes it
// to the disk. False when anything fails; errno then tells why (ENOSPC for a full disk).
bool CopyFileTo(const std::string& source, int fd);
// Whether two files hold the same bytes (false when either cannot be read).
bool SameContents(const std::string& a, const std::string& b);
// Flushes a held folder's entries to the disk (after a rename into it).
bool SyncFolder(const HeldFolder& folder);
// Free bytes on the file system holding path (for a path not yet there, its nearest existing folder),
// or nullopt.
std::optional<uint64_t> FreeSpace(const std::string& path);

}  // namespace archive::fs
