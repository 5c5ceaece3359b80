// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <string>

namespace kestro::testing {

// Two C streams that code under test writes as it would write standard output and error; what
// each holds can be read back at any point, and writing goes on after it.
struct CapturedStreams {
    CapturedStreams() = default;
    CapturedStreams(const CapturedStreams&) = delete;
    CapturedStreams& operator=(const CapturedStreams&) = delete;
    ~CapturedStreams() {
        std::fclose(out);
        std::fclose(err);
    }
    std::string output() const { return written(out); }
    std::string errors() const { return written(err); }

    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();

  private:
    static std::string written(std::FILE* f) {
        std::fflush(f);
        std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
        std::rewind(f);
        text.resize(std::fread(text.data(), 1, text.size(), f));
        std::fseek(f, 0, SEEK_END);  // a read leaves the stream where the next write may not go
        return text;
    }
};

}  // namespace kestro::testing
