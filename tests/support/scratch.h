// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace kestro::testing {

// A fresh folder of the test's own, removed with everything in it afterwards.
struct ScratchDir {
    ScratchDir() {
        std::string name = (std::filesystem::temp_directory_path() / "kestro-test-XXXXXX").string();
        if (::mkdtemp(name.data()) != nullptr)
            path = name;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::filesystem::path write(const std::string& name, const std::string& content) const {
        std::ofstream(path / name, std::ios::binary | std::ios::trunc) << content;
        return path / name;
    }

    std::filesystem::path path;
};

// A file's bytes as they are on disk; empty when it cannot be read.
inline std::string slurp(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

}  // namespace kestro::testing
