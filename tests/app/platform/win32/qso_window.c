/*
 * A stand-in for the logger in window tests: a Win32 program with one hidden top-level window of class
 * "TfmEditNewQso". Closing that window (WM_CLOSE) ends the program, as it lets the logger end.
 *
 * Prints "ready" once the window exists and "closed" when it ends through the close request (exit 0).
 * Prints "nowin" and exits 6 when no window can be made (no graphics driver); exits 7 when nobody
 * closes it within a minute, so a failed test leaves nothing running.
 */
#include <stdio.h>
#include <windows.h>

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int main(void)
{
    WNDCLASSA windowClass = {0};
    HWND window;
    MSG message;

    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "TfmEditNewQso";
    if (!RegisterClassA(&windowClass)) {
        printf("noclass\n");
        return 5;
    }
    window = CreateWindowExA(0, "TfmEditNewQso", "New QSO", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, NULL, NULL,
                             windowClass.hInstance, NULL);
    if (window == NULL) {
        printf("nowin %lu\n", GetLastError());
        fflush(stdout);
        return 6;
    }
    SetTimer(NULL, 0, 60000, NULL);
    printf("ready\n");
    fflush(stdout);
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == NULL)
            return 7;
        DispatchMessageA(&message);
    }
    printf("closed\n");
    fflush(stdout);
    return 0;
}
