// What the engine needs of the application it runs in: message boxes, the two file dialogs of the
// reader's setters, the busy cursor and the message pump.
//
// The engine has no user interface of its own and one thread. It shows its few boxes and pumps the
// application's messages only through this interface. The application installs an implementation
// backed by its toolkit; tests install a recorder; without either, DefaultHost() answers every question
// with its default answer (OK, Yes, cancelled dialogs) and pumps nothing.
#pragma once

#include <optional>
#include <string>

namespace archive {

enum class Buttons { Ok, OkCancel, YesNo };
enum class Answer { Ok, Cancel, Yes, No };

class Host {
public:
    virtual ~Host() = default;

    // A modal box with a caption, a text and the given buttons.
    virtual Answer MessageBox(const std::string& caption, const std::string& text, Buttons buttons) = 0;
    // The open-file dialog of the ZipName setter; nullopt when cancelled.
    virtual std::optional<std::string> OpenFileDialog(const std::string& title, const std::string& filter,
                                                      const std::string& initialDir) = 0;
    // The folder dialog of the DestDir setter; nullopt when cancelled.
    virtual std::optional<std::string> SelectFolderDialog(const std::string& startDir) = 0;
    // Let the application process its pending window messages.
    virtual void ProcessMessages() = 0;
    // Hourglass on (true) or the default cursor back (false).
    virtual void SetBusyCursor(bool busy) = 0;
};

// Answers every box with its first button (OK or Yes), cancels dialogs, pumps nothing.
// When `log` is set, every box is also written to standard error as "caption: text".
class DefaultHost : public Host {
public:
    explicit DefaultHost(bool log = false) : log_(log) {}
    Answer MessageBox(const std::string& caption, const std::string& text, Buttons buttons) override;
    std::optional<std::string> OpenFileDialog(const std::string&, const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SelectFolderDialog(const std::string&) override { return std::nullopt; }
    void ProcessMessages() override {}
    void SetBusyCursor(bool) override {}

private:
    bool log_;
};

// The process-wide default used by components that were given no host.
Host& NullHost();

}  // namespace archive
