// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "command_line.h"

namespace kestro::cli {

// The files a job sends, each read once, before the first reset: what is checked is what is
// sent whatever happens to the file later, and a pipe or a process substitution (<(...)) works
// however often the job names it. With several ports, the process that read them hands them
// to its workers on their standard input.
class InputFiles {
  public:
    struct File {
        std::optional<std::string> content;
        std::string reason;  // why it could not be read
    };

    // Reads every file the plan's steps name, each name once.
    static InputFiles read(const Plan& plan);

    // A file as read; one the plan did not name is read now.
    const File& get(const std::filesystem::path& path);

    // What a worker is given, and the worker's reading of it; nullopt for text that is not
    // what serialize() writes.
    std::string serialize() const;
    static std::optional<InputFiles> parse(std::string_view text);
    // Reads standard input to its end, as a worker does.
    static std::optional<InputFiles> fromStream(std::FILE* in);

  private:
    std::map<std::string, File> files_;
};

}  // namespace kestro::cli
