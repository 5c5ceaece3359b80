// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "messages.h"

namespace kestro {

struct Received {
    std::int64_t bytes = 0;
    std::int64_t total = 0;
};

// The only way from an operation to the window. The window implements it with widgets; tests
// implement it with a recorder.
class OperationUi {
  public:
    virtual ~OperationUi() = default;
    virtual void message(const Message& m) = 0;
    // Disables or enables the whole main window.
    virtual void setWindowEnabled(bool enabled) = 0;
    // button: the object name of a button, e.g. "TestComm".
    virtual void setCaption(std::string_view button, std::string_view caption) = 0;
    // The four progress bars move together; nullopt hides them.
    virtual void setProgress(std::optional<int> percent) = 0;
    // How much of a range an operation reads back has come (the dump's): bytes of the range;
    // nullopt ends it. The window shows the dump's warning instead; the command line a bar.
    virtual void setReceived(std::optional<Received>) {}
    // Shows or hides a control that an operation owns, such as "DumpWarning".
    virtual void setVisible(std::string_view control, bool visible) = 0;
    // The file chooser: the full path of the chosen file, or "Cancel".
    virtual std::string chooseFile() = 0;
    // The content of the file chooseFile() answered with, when the front end has read it
    // already (the command line reads every file of a job once, before its first reset);
    // nullptr: the operation reads the file itself.
    virtual const std::string* chosenFileContent() const { return nullptr; }
    // A job that shows no box when it went well has ended so, confirmed by the talker: what it
    // did, in one line. Never called for a job that failed or whose end was not confirmed.
    virtual void jobDone(std::string_view /*what*/) {}
    // The rate the fast protocol's agreement left the line at, in baud.
    virtual void setLineRate(int /*baud*/) {}
};

inline constexpr std::string_view kChooserCancel = "Cancel";

}  // namespace kestro
