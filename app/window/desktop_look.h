// The program on the desktop: its window icon, the name of its desktop entry (dist/zorvel-backup.desktop,
// which names the icon dist/zorvel-backup.svg), and an icon theme for its pictures when the desktop
// session names none (a bare X server, a remote session).
#pragma once

#include <QIcon>

namespace app {

// The desktop entry's name without ".desktop"; also the icon's name in an icon theme.
inline constexpr char kDesktopFileName[] = "zorvel-backup";

// The installed icon when the theme has it, else the same picture drawn here.
QIcon ProgramIcon();

// Sets the window icon and the desktop entry's name, and, when the desktop names no icon theme, the first
// of the common themes that is installed, so that folders, files and boxes look like the desktop's.
void ApplyDesktopLook();

}  // namespace app
