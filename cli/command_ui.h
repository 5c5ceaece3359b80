// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "clock.h"
#include "operation_ui.h"
#include "progress.h"
#include "report.h"

namespace kestro::cli {

// The operations' way out when there is no window: each box becomes a line and a verdict, the
// bars a transfer report, and the chooser answers with the command's file.
class CommandUi final : public OperationUi {
  public:
    // content: the file as the job read it, before its first reset.
    CommandUi(Reporter& reporter, const Clock& clock, std::filesystem::path file,
              std::int64_t fileSize, const std::string* content = nullptr)
        : reporter_(reporter),
          clock_(clock),
          file_(std::move(file)),
          fileSize_(fileSize),
          content_(content) {}

    void message(const Message& m) override;
    void setWindowEnabled(bool) override {}
    void setCaption(std::string_view, std::string_view) override {}
    void setProgress(std::optional<int> percent) override;
    void setReceived(std::optional<Received> received) override;
    void setVisible(std::string_view, bool) override {}
    std::string chooseFile() override;
    const std::string* chosenFileContent() const override { return content_; }
    void setLineRate(int baud) override { baud_ = baud; }
    int lineRate() const { return baud_; }
    void jobDone(std::string_view) override { done_ = true; }
    // Whether the operation said that a job without a box ended as it should.
    bool done() const { return done_; }

    // Turns the operation's words into the user's (a dump's private folder into the file
    // named with -o); the verdict comes from the operation's own words all the same.
    void setWording(std::function<std::string(std::string)> wording) {
        wording_ = std::move(wording);
    }

    // The memory's real name, added to the window's words of a result ("Eprom is program (the
    // external EEPROM)"); empty: none added.
    void setMemory(std::string name) { memory_ = std::move(name); }

    // The worst verdict of the boxes shown; nullopt when none was.
    const std::optional<Exit>& exit() const { return exit_; }
    // The text of the box that gave the verdict.
    const std::string& verdict() const { return verdict_; }
    // That box's explanation under its text; empty if it had none.
    const std::string& detail() const { return detail_; }

  private:
    // A transfer's amount so far, or its end.
    void show(std::optional<Received> amount, int percent = 0);

    Reporter& reporter_;
    const Clock& clock_;
    std::filesystem::path file_;
    std::int64_t fileSize_;
    const std::string* content_;
    int baud_ = 0;
    bool done_ = false;
    std::optional<TimePoint> transferStart_;
    RateMeter meter_;
    std::optional<Exit> exit_;
    std::string verdict_;
    std::string detail_;
    std::function<std::string(std::string)> wording_;
    std::string memory_;
};

}  // namespace kestro::cli
