// The command line's face of the commands: outcome lines on standard output, problems and errors on
// standard error with the same texts as the window's boxes, and, when standard error is a terminal, the
// progress as one line that is rewritten in place (percentage and current file).
#pragma once

#include "app/commands/reporter.h"

#include <QString>
#include <QStringList>

#include <cstdio>
#include <string>

namespace archive {
class TVCLUnZip;
class TVCLZip;
}  // namespace archive

namespace app::cli {

class TerminalReporter : public Reporter {
public:
    // `progress`: draw the progress line (standard error is a terminal).
    explicit TerminalReporter(bool progress, std::FILE* out = stdout, std::FILE* err = stderr);
    ~TerminalReporter() override;

    // Progress from these components' events (the events set before stay and still run).
    void Follow(archive::TVCLZip& zip);
    void Follow(archive::TVCLUnZip& unzip);

    void Done(const QString& text) override;
    void Incomplete(const QString& text) override;

    // A line on standard output / standard error, after the progress line is cleared.
    void Out(const QString& line);
    void Err(const QString& line);

    // Every line given to Err() (Incomplete() too) is also kept in `lines` until Capture(nullptr):
    // the reason an unattended backup's notification repeats.
    void Capture(QStringList* lines) { capture_ = lines; }

    // Done() prints nothing (the caller prints its own outcome line instead).
    bool quietDone = false;

private:
    void Started(const std::string& file);
    void Moved(int percent);
    void Draw();
    void Clear();

    bool progress_;
    std::FILE* out_;
    std::FILE* err_;
    int percent_ = 0;
    QString file_;
    bool drawn_ = false;
    QStringList* capture_ = nullptr;
};

}  // namespace app::cli
