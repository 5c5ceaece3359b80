// SPDX-License-Identifier: GPL-3.0-or-later
#include "input_files.h"

#include "talker_loader.h"

namespace kestro::cli {

namespace {

// The same file however the job spells it ("fw.s19", "./fw.s19").
std::string keyOf(const std::filesystem::path& path) {
    return path.lexically_normal().string();
}

// Each file: "name-length ok content-length\n", the name, the content (or the reason).
void appendFile(std::string& out, const std::string& name, const InputFiles::File& f) {
    const std::string& body = f.content ? *f.content : f.reason;
    out += std::to_string(name.size()) + (f.content ? " 1 " : " 0 ") + std::to_string(body.size()) +
           "\n" + name + body;
}

std::optional<std::size_t> readNumber(std::string_view& text, char end) {
    const auto at = text.find(end);
    if (at == std::string_view::npos || at == 0 || at > 12)
        return std::nullopt;
    std::size_t value = 0;
    for (char c : text.substr(0, at)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::size_t>(c - '0');
    }
    text.remove_prefix(at + 1);
    return value;
}

}  // namespace

InputFiles InputFiles::read(const Plan& plan) {
    InputFiles files;
    for (const Step& step : plan.steps)
        if (!step.file.empty())
            files.get(step.file);
    return files;
}

const InputFiles::File& InputFiles::get(const std::filesystem::path& path) {
    const std::string key = keyOf(path);
    if (const auto found = files_.find(key); found != files_.end())
        return found->second;
    File f;
    // "-" is the standard input, as in every shell tool; read once however often it is named.
    f.content = readFile(path == "-" ? std::filesystem::path("/dev/stdin") : path, &f.reason);
    return files_.emplace(key, std::move(f)).first->second;
}

std::string InputFiles::serialize() const {
    std::string out;
    for (const auto& [name, f] : files_)
        appendFile(out, name, f);
    return out;
}

std::optional<InputFiles> InputFiles::parse(std::string_view text) {
    InputFiles files;
    while (!text.empty()) {
        const auto nameLength = readNumber(text, ' ');
        const auto ok = readNumber(text, ' ');
        const auto bodyLength = readNumber(text, '\n');
        if (!nameLength || !ok || *ok > 1 || !bodyLength || *nameLength > text.size() ||
            *bodyLength > text.size() - *nameLength)
            return std::nullopt;
        std::string name(text.substr(0, *nameLength));
        std::string body(text.substr(*nameLength, *bodyLength));
        text.remove_prefix(*nameLength + *bodyLength);
        File f;
        if (*ok)
            f.content = std::move(body);
        else
            f.reason = std::move(body);
        files.files_.insert_or_assign(std::move(name), std::move(f));
    }
    return files;
}

std::optional<InputFiles> InputFiles::fromStream(std::FILE* in) {
    std::string text;
    char piece[64 * 1024];
    for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, in)) > 0;)
        text.append(piece, n);
    return parse(text);
}

}  // namespace kestro::cli
