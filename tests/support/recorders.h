// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "link_state.h"
#include "operation_ui.h"

namespace kestro {

inline void PrintTo(const Message& m, std::ostream* os) {
    *os << "{\"" << m.text << "\", \"" << m.title << "\", icon " << static_cast<int>(m.icon)
        << ", \"" << m.detail << "\"}";
}

}  // namespace kestro

namespace kestro::testing {

// Records what the link shows.
struct RecordingView : LinkView {
    void showReadiness(bool r) override { ready = r, prompt = !r, ++refreshes; }
    void showResetPrompt(bool shown) override { prompt = shown; }
    void showDisconnected(bool shown, const std::string& why) override {
        disconnected = shown, disconnectReason = why;
    }
    void showPortWarning(const std::optional<std::string>& text) override {
        warning = text;
        if (text)
            warnings.push_back(*text);
    }
    void selectComm(int n) override { selected = n; }
    void message(const Message& m) override { messages.push_back(m); }

    bool ready = false;
    bool prompt = true;
    int refreshes = 0;
    bool disconnected = false;
    std::string disconnectReason;
    std::optional<std::string> warning;
    std::vector<std::string> warnings;
    int selected = 1;
    std::vector<Message> messages;
};

// Records what an operation shows; the chooser answers with a scripted path.
struct RecordingUi : OperationUi {
    void message(const Message& m) override { messages.push_back(m); }
    void setWindowEnabled(bool e) override { enabled.push_back(e); }
    void setCaption(std::string_view button, std::string_view caption) override {
        captions[std::string(button)] = std::string(caption);
        captionLog.emplace_back(caption);
    }
    void setProgress(std::optional<int> p) override { progress.push_back(p); }
    void setLineRate(int baud) override { lineRate = baud; }
    void setVisible(std::string_view control, bool v) override {
        visible[std::string(control)] = v;
    }
    void jobDone(std::string_view what) override { done.emplace_back(what); }
    std::string chooseFile() override {
        ++chooserOpened;
        return chooserAnswer;
    }

    bool windowEnabled() const { return enabled.empty() || enabled.back(); }

    std::vector<Message> messages;
    std::vector<std::string> done;  // what jobs that end without a box said they did
    std::vector<bool> enabled;
    int lineRate = 0;  // the rate a fast job agreed on
    std::map<std::string, std::string> captions;
    std::vector<std::string> captionLog;
    std::vector<std::optional<int>> progress;
    std::map<std::string, bool> visible;
    std::string chooserAnswer = "Cancel";
    int chooserOpened = 0;
};

}  // namespace kestro::testing
