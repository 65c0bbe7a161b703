// The names the program gives the archives it makes, and what a name says.
//
// A backup is named zorvel3_<yyyymmddhhnnss>.zip after the local time it was made. The backup made just
// before a restore, which holds the logger's files as they were so that the restore can be undone, is
// named zorvel3-before-restore-<yyyymmddhhnnss>.zip: the window and `list` show it (their mask is
// zorvel3*.zip), sorted before every backup, while nothing takes it for the newest backup of a folder.
// Both forms are written in lower case, and only those exact forms are the program's: ZORVEL3_...ZIP,
// zorvel3_2024.zip or a time that is no date are somebody else's names.
//
// Earlier versions named the backup before a restore like any other backup; those stay what their
// names say, backups like the rest.
//
// Standard C++ only: these rules are the same for every face and every system.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

// A local date and time to the second, as a name holds it.
struct NameTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    bool operator==(const NameTime&) const = default;
};

enum class ArchiveKind { Backup, SafetyBackup };

struct ArchiveName {
    ArchiveKind kind;
    NameTime time;
};

inline constexpr char kBackupPrefix[] = "zorvel3_";
inline constexpr char kSafetyBackupPrefix[] = "zorvel3-before-restore-";

// What `fileName` (without folder) is: one of the two forms with a real date and time, or nothing.
std::optional<ArchiveName> ParseArchiveName(std::string_view fileName);
bool IsBackupName(std::string_view fileName);
bool IsSafetyBackupName(std::string_view fileName);

// The file name of an archive of that kind made at `time`.
std::string ArchiveFileName(ArchiveKind kind, const NameTime& time);

// Whether `time` lies more than a day after `now`: a name of a clock that was far ahead, or made up.
// Such a name never counts as the newest backup, nor takes the place of a backup that retention keeps.
bool IsFarFuture(const NameTime& time, const NameTime& now);

// `time` and `seconds` more, across minutes, days, months and years.
NameTime AddSeconds(const NameTime& time, long long seconds);

// "2099-01-01 00:00:00"
std::string TimeText(const NameTime& time);

}  // namespace app
