// A Host for the engine tests: records every message box, dialog, pump and cursor change, and answers
// with what the test queued (or the default answer). Header-only.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "archive/host.h"

namespace testing_support {

class RecordingHost : public archive::Host {
public:
    struct Box {
        std::string caption;
        std::string text;
        archive::Buttons buttons;
    };

    std::vector<Box> boxes;
    std::deque<archive::Answer> answers;        // next answers to boxes; default: OK / Yes
    std::optional<std::string> openFileResult;  // answer of the open-file dialog (nullopt: cancelled)
    std::optional<std::string> folderResult;    // answer of the folder dialog
    std::string lastOpenTitle, lastOpenFilter, lastOpenDir, lastFolderStart;
    int pumps = 0;
    int busyOn = 0;
    int busyOff = 0;

    archive::Answer MessageBox(const std::string& caption, const std::string& text,
                               archive::Buttons buttons) override {
        boxes.push_back({caption, text, buttons});
        if (!answers.empty()) {
            const archive::Answer a = answers.front();
            answers.pop_front();
            return a;
        }
        return buttons == archive::Buttons::YesNo ? archive::Answer::Yes : archive::Answer::Ok;
    }
    std::optional<std::string> OpenFileDialog(const std::string& title, const std::string& filter,
                                              const std::string& initialDir) override {
        lastOpenTitle = title;
        lastOpenFilter = filter;
        lastOpenDir = initialDir;
        return openFileResult;
    }
    std::optional<std::string> SelectFolderDialog(const std::string& startDir) override {
        lastFolderStart = startDir;
        return folderResult;
    }
    void ProcessMessages() override { ++pumps; }
    void SetBusyCursor(bool busy) override { ++(busy ? busyOn : busyOff); }
};

}  // namespace testing_support
