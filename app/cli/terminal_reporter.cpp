// The terminal's face; see terminal_reporter.h. The progress line is cut to the terminal's width so that
// it never wraps (a wrapped line could not be rewritten in place).
#include "app/cli/terminal_reporter.h"

#include "app/commands/command_steps.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/writer/vcl_zip.h"

#include <sys/ioctl.h>
#include <unistd.h>

namespace app::cli {

namespace {

int TerminalWidth(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 10) return size.ws_col;
    return 80;
}

void WriteLine(std::FILE* stream, const QString& line) {
    const QByteArray bytes = line.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

}  // namespace

TerminalReporter::TerminalReporter(bool progress, std::FILE* out, std::FILE* err)
    : progress_(progress), out_(out), err_(err) {}

TerminalReporter::~TerminalReporter() { Clear(); }

void TerminalReporter::Follow(archive::TVCLZip& zip) {
    if (!progress_) return;
    Chain(zip.OnStartZip, [this](archive::TVCLZip*, const std::string& name, archive::TZipHeaderInfo&, bool&) { Started(name); });
    Chain(zip.OnTotalPercentDone, [this](archive::TVCLUnZip*, int percent) { Moved(percent); });
}

void TerminalReporter::Follow(archive::TVCLUnZip& unzip) {
    if (!progress_) return;
    Chain(unzip.OnStartUnZip, [this](archive::TVCLUnZip*, int, std::string& name, bool&) { Started(name); });
    Chain(unzip.OnTotalPercentDone, [this](archive::TVCLUnZip*, int percent) { Moved(percent); });
}

void TerminalReporter::Started(const std::string& file) {
    file_ = QString::fromStdString(file);
    Draw();
}

void TerminalReporter::Moved(int percent) {
    if (percent == percent_) return;
    percent_ = percent;
    Draw();
}

void TerminalReporter::Draw() {
    QString line = QStringLiteral("%1% ").arg(percent_, 3) + file_;
    const int width = TerminalWidth(err_) - 1;
    if (line.size() > width) line = line.left(6) + QStringLiteral("...") + line.right(width - 9);
    const QByteArray bytes = line.toLocal8Bit();
    std::fputs("\r\033[K", err_);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), err_);
    std::fflush(err_);
    drawn_ = true;
}

void TerminalReporter::Clear() {
    if (!drawn_) return;
    std::fputs("\r\033[K", err_);
    std::fflush(err_);
    drawn_ = false;
}

void TerminalReporter::Done(const QString& text) {
    if (!quietDone) Out(text);
}

void TerminalReporter::Incomplete(const QString& text) { Err(text); }

void TerminalReporter::Out(const QString& line) {
    Clear();
    WriteLine(out_, line);
}

void TerminalReporter::Err(const QString& line) {
    if (capture_) capture_->append(line);
    Clear();
    WriteLine(err_, line);
}

}  // namespace app::cli
