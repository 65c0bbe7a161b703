/*
 * zb_close_window.exe CLASS — run inside a Wine prefix (or on Windows): finds the top-level window of
 * window class CLASS and posts it WM_CLOSE, as the backup program asks the logger's QSO-entry window
 * to close before it waits for the logger to end.
 *
 * Exit code: 0 the request was posted, 1 no such window, 2 bad usage, 3 posting failed.
 * Console program on purpose: it opens no window and needs no display.
 */
#include <windows.h>

int main(int argc, char **argv)
{
    HWND window;

    if (argc != 2 || argv[1][0] == '\0')
        return 2;
    window = FindWindowA(argv[1], NULL);
    if (window == NULL)
        return 1;
    return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 3;
}
