// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace kestro::cli {

// Where a dump goes. The operation writes upload.s19 (and any file beside it, such as a
// damaged dump) in a private folder; the dump reaches the user's name only when it is whole.
// A regular file there is replaced by a rename, so a failed dump leaves the old one in place;
// the file put in its place keeps the old one's mode and owner. A device or FIFO there is
// written through, never replaced, and opened at once, so that a FIFO nobody reads is found
// before the job; "-" is the standard output. A symbolic link is followed to its file. The
// private folder goes with this object, however the run ends.
class DumpTarget {
  public:
    explicit DumpTarget(std::filesystem::path output);
    ~DumpTarget();
    DumpTarget(const DumpTarget&) = delete;
    DumpTarget& operator=(const DumpTarget&) = delete;

    // Set when the dump cannot go there; nothing to run then.
    const std::string& error() const { return error_; }
    // The folder the operation writes in.
    const std::filesystem::path& folder() const { return folder_; }
    // The operation's text with the private folder's names made the user's.
    std::string userText(std::string text) const;
    // Moves the files written beside the dump to their names; the error text when one cannot.
    std::string placeBeside();
    // Moves the dump to its name; the error text when it cannot.
    std::string place();
    // A dump written whole but found damaged goes beside the good file, never over it: the
    // line that says where; empty when there is none.
    std::string placeDamaged();
    // The records go to the standard output, where the verdicts would join them.
    bool toStandardOutput() const { return toStandardOutput_; }

  private:
    // Where a file the operation named upload<rest> goes.
    std::filesystem::path userPath(const std::string& name) const;

    std::filesystem::path output_;  // as the user typed it
    std::filesystem::path final_;   // the file it names, links followed
    std::filesystem::path folder_;
    bool writeThrough_ = false;
    bool toStandardOutput_ = false;
    int fd_ = -1;  // a device's or FIFO's, open from the start
    std::string error_;
};

// Whether a dump to output would reach this process's standard output: "-", or a name for the
// same file (/dev/stdout, the terminal's device).
bool isStandardOutput(const std::filesystem::path& output);

}  // namespace kestro::cli
