// What a backup holds and where each part goes back: the names, patterns and folders that the create
// and restore commands share with every archive ever written.
//
// All of it is fixed by the archives already out there: a restore must find the entries a create
// wrote years ago, so the names, their letter case and the order of the patterns never change.
// Relative parts are joined to the logger folder, which always ends with exactly one '/', by plain
// concatenation; the engine resolves "db" against an existing "DB" folder ignoring case, as the
// logger (a Windows program) does.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <array>
#include <vector>

namespace app {

// The two registry snapshots: the file (relative to the logger folder) and the key it holds, in the
// order they are exported and imported.
struct RegistrySnapshotFile {
    const char* file;
    const char* key;
};
inline constexpr std::array<RegistrySnapshotFile, 2> kRegistrySnapshots{{
    {"tmp/zorvel3_Registry.reg", "HKEY_CURRENT_USER\\Software\\ZORVEL_log3"},
    {"tmp/ZORVEL_server_Registry.reg", "HKEY_CURRENT_USER\\Software\\ZORVEL_server"},
}};

// The settings scratch file of the window's INI component (relative to the logger folder); the create
// command deletes it.
inline constexpr char kSettingsScratchFile[] = "tmp/Backup.ini";

// The logger's scratch folder (relative to the logger folder); it holds the snapshots while a command
// runs and nothing afterwards.
inline constexpr char kTmpFolder[] = "tmp";

// The twelve patterns of a backup, relative to the logger folder; each is taken without recursion.
inline constexpr std::array<const char*, 12> kBackupPatterns{
    "tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg",
    "DB/*.*", "*.ini", "*.qsl", "*.aal", "LanguageFile*", "*.dat", "*.txt", "*.md", "*.lyr", "*.sys"};

// The writer's file list: "|" (no recursion for this entry) + logger folder + pattern, in table order.
QStringList BackupFileList(const QString& loggerFolder);

// backup folder text + "/zorvel3_" + yyyymmddhhnnss (local time) + ".zip"; with `beforeRestore` the name
// of the backup made before a restore, "/zorvel3-before-restore-" + yyyymmddhhnnss + ".zip" (see
// app/commands/backup_names.h). The text is used as typed: one ending in '/' gives a doubled separator,
// which still names a file in that folder.
QString BackupArchivePath(const QString& backupFolderText, const QDateTime& localTime, bool beforeRestore = false);

// The program's title (window caption, application name, the stored settings' key) and the one start
// text both faces show when the program does not stand in a logger folder.
inline constexpr char kProgramTitle[] = "ZORVEL_Backup";
inline constexpr char kNotInLoggerFolder[] = "This program must be run in ZORVEL_Log 3 folder";

// The backups a folder list shows (names are matched ignoring case), and the stored value under the
// window's form key that remembers the backup folder between runs, for both faces.
inline constexpr char kBackupMask[] = "zorvel3*.zip";
inline constexpr char kSelectedPathName[] = "SelectedPathName";
inline constexpr char kFormSection[] = "TfmMain";

inline constexpr char kCreateQuestion[] = "Create ZORVEL_Log 3 backup?";
inline constexpr char kCreatedFile[] = "Created file: ";
inline constexpr char kRestoreQuestion[] = "Restore ZORVEL_Log backup?";
inline constexpr char kRestoreDone[] = "Restore backup";

// The four restore options as the window shows them.
inline constexpr char kAwardsCaption[] = "Awards.mdb  (Statistic files)";
inline constexpr char kDatabaseCaption[] = "DB.mdb (Callbook, ... files)";
inline constexpr char kLogsCaption[] = "Logs.mdb (Logs files)";
inline constexpr char kConfigurationCaption[] = "Configuration files (*.ini, *.dat.*, *.qsl...)";

// One part of a restore: the entries it selects (matched with the whole stored path, ignoring case),
// the folder they go to (relative to the logger folder) and whether their stored folders are
// recreated below it.
struct RestoreCategory {
    enum Box { Awards, Database, Logs, RegistrySnapshots, Configuration, Everything };
    Box box;
    const char* caption;  // the check box's text; none for the snapshots, which are always unpacked
    std::vector<const char*> patterns;
    const char* destination;
    bool recreateDirs;
};

// The five categories in the order they are restored; the registry snapshots are unpacked into tmp
// whatever the user chose.
const std::vector<RestoreCategory>& RestoreCategories();

// Everything a backup holds, each entry back where it came from (the snapshots into tmp, files in DB
// that no database part selects into DB): one part, all or nothing.
const RestoreCategory& EverythingCategory();

}  // namespace app
