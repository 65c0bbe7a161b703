// Asking a top-level window of the logger, found by its window class, to close.
//
// This only posts the request (WM_CLOSE); whether and when the window and its program go away is up
// to them. The logger guard polls the process list afterwards.
#pragma once

#include <QString>

namespace app::platform {

class WindowCloser {
public:
    virtual ~WindowCloser() = default;
    // True when a window of `windowClass` was found and the request posted.
    virtual bool RequestClose(const QString& windowClass) = 0;
    // Sends the same request without waiting for it to be delivered, so that whoever waits for the
    // window's program to end counts from now. Closers that cannot do that deliver it here.
    virtual void StartCloseRequest(const QString& windowClass) { RequestClose(windowClass); }
};

}  // namespace app::platform
