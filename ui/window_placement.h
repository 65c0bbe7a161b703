// A form's window placement in the terms the store keeps, and its texts.
//
// The store holds what the logger's platform reports for a window: placement flags, a show command
// (1 normal, 2 minimised, 3 maximised), minimised and maximised positions, and the normal rectangle as
// left, top, right, bottom (right and bottom exclusive). On Qt:
//  - the normal rectangle is the client geometry (frame excluded) of the window in its normal state;
//    applying it uses the same geometry, so a window neither drifts nor grows from run to run;
//  - Qt has no minimised or maximised positions: they are written as "-1,-1,-1,-1" (the platform's "not
//    set") and ignored when read back;
//  - flags are 0, or 2 (restore to maximised) when a maximised window is minimised.
// The screen-size suffix and the pixels-per-inch value come from the primary screen.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include <array>

class QWidget;

namespace ui {

struct WindowPlacement {
    int flags = 0;
    int showCmd = 1;
    QPoint minPosition{-1, -1};
    QPoint maxPosition{-1, -1};
    // left, top, right, bottom
    int left = 0, top = 0, right = 0, bottom = 0;
};

constexpr int kShowHide = 0;
constexpr int kShowNormal = 1;
constexpr int kShowMinimized = 2;
constexpr int kShowMaximized = 3;
constexpr int kRestoreToMaximized = 2;  // placement flag

WindowPlacement GetWindowPlacement(const QWidget* form);
// Applies the normal rectangle. A rectangle that lies on no screen is moved onto the primary screen, as
// the platform does for a placement saved on a monitor that is gone.
void SetWindowPlacement(QWidget* form, const WindowPlacement& placement);

// "(%dx%d)" of the primary screen in pixels.
QString ScreenSizeSuffix();
// Logical pixels per inch of the primary screen.
int ScreenPixelsPerInch();

// "%d,%d,%d,%d".
QString FormatPosition(int a, int b, int c, int d);
// Words 1 to 4 of text, separated by spaces and commas (a run of separators counts as one), each as an
// integer; a missing or invalid word gives its entry of defaults.
std::array<int, 4> ParsePosition(const QString& text, const std::array<int, 4>& defaults);

}  // namespace ui
