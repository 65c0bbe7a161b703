// How a command tells its user what became of it. The commands decide what is said; each face decides
// how: the window with its boxes, status bar and catalogue, the command line with lines on its streams.
#pragma once

#include <QString>

namespace app {

class Reporter {
public:
    virtual ~Reporter() = default;
    // The work was done as asked ("Created file: ...", "Restore backup").
    virtual void Done(const QString& text) = 0;
    // Something was not done, or what was made lacks something: the text says what and why.
    virtual void Incomplete(const QString& text) = 0;
    // A line of status for a face that has one ("Created file: ...").
    virtual void Status(const QString& text) { (void)text; }
    // The backup folder's contents changed (an archive appeared or went).
    virtual void BackupFolderChanged() {}
};

}  // namespace app
