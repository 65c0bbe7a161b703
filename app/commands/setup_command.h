// `setup LOGGER_FOLDER`: an installed program made ready for one ZORVEL_Log 3 folder.
//
// The program works on the folder it was started from and refuses any other, so an installed copy
// (/usr/lib/zorvel-backup/ZORVEL_Backup) is of no use until it stands in a logger folder. Setup puts a
// symbolic link to it there -- started through the link, the program takes the link's folder, in both
// faces -- and a menu entry "ZORVEL_Backup" that starts that link, one per folder, named after a hash of
// the folder's path. Then it says what to do next. It runs again without harm: what is there and
// right stays; a menu entry of its own for the folder is brought up to date.
//
// It never replaces or deletes what it did not make: a ZORVEL_Backup in the folder that is another
// program (a copy put there by hand, a link to somewhere else) makes setup refuse before it changes
// anything, and --remove leaves it. A menu entry is its own when it names the folder in its
// X-ZORVEL-Backup-Folder key. A folder without ZORVEL_Log3.exe or without DB (each found ignoring
// case, as the logger, a Windows program, sees its files) is refused.
//
// The Exec key of the menu entry follows the freedesktop.org desktop entry rules for that key: the
// path is one argument in double quotes, with `"`, `` ` ``, `$` and `\` escaped by a backslash inside
// them; a literal "%" is "%%"; and the value as a whole is a string, whose every backslash is doubled.
// GLib's menus, though, look for the program of an entry before they show it, under the path with its
// "%%" not yet made "%" -- and hide the entry, finding none. A program whose path holds a "%" is
// therefore started through `/bin/sh -c 'exec "$0"' PATH`, where the path is an argument like any other
// and reaches the program unchanged as its argv[0]. A path holding a control character cannot be
// written into an Exec value at all and is refused.
#pragma once

#include "app/commands/exit_codes.h"

#include <QString>

#include <functional>

namespace app {

// The name the program has in a logger folder.
inline constexpr char kProgramFileName[] = "ZORVEL_Backup";
// The key that marks a menu entry as setup's for a folder.
inline constexpr char kMenuEntryFolderKey[] = "X-ZORVEL-Backup-Folder";

// ${XDG_DATA_HOME:-$HOME/.local/share}/applications, where a user's own menu entries live.
QString UserApplicationsFolder();

// A string value of a desktop entry: backslash, line breaks and tabs escaped, a leading blank as \s.
QString DesktopStringValue(const QString& text);
// One argument of an Exec key, quoted, as it stands in the file (string escapes included).
QString DesktopExecArgument(const QString& argument);
// The Exec value that starts `program` (an absolute path), as it stands in the file.
QString DesktopExecCommand(const QString& program);
// A word for the shell, in single quotes where it needs them (for the commands setup prints).
QString ShellWord(const QString& word);

// "zorvel-backup-<12 hex digits of the SHA-256 of the folder's path>.desktop".
QString MenuEntryFileName(const QString& loggerFolder);
// The menu entry that starts `program` (the link in `loggerFolder`).
QString MenuEntryText(const QString& loggerFolder, const QString& program);

class SetupCommand {
public:
    // `program`: the installed program the links lead to (its real path). `applicationsFolder`: where
    // the menu entries go. `out` and `err` take the lines for standard output and standard error.
    SetupCommand(QString program, QString applicationsFolder, std::function<void(const QString&)> out,
                 std::function<void(const QString&)> err);

    // The link and the menu entry for the folder named on the command line; kExitOk or kExitFailed.
    ExitCode Setup(const QString& folderArgument);
    // Takes away what Setup made for that folder; what it did not make stays and is named.
    ExitCode Remove(const QString& folderArgument);

private:
    enum class Place { Missing, Ours, ProgramItself, Foreign };
    Place LinkPlace(const QString& link, QString* what) const;
    Place MenuEntryPlace(const QString& file, const QString& folder) const;
    bool WriteMenuEntry(const QString& file, const QString& text);

    QString program_;
    QString applicationsFolder_;
    std::function<void(const QString&)> out_;
    std::function<void(const QString&)> err_;
};

}  // namespace app
