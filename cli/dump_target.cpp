// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump_target.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <system_error>

namespace kestro::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char* kDumpStem = "upload";
constexpr const char* kDumpName = "upload.s19";

// The window's advice, as a shell user follows it.
constexpr std::pair<const char*, const char*> kWindowWords[] = {
    {"on the Dump page", "with -o"},
};

std::string reason(int error) {
    return std::strerror(error);
}

// The file a chain of symbolic links ends at, existing or not; nullopt for a loop.
std::optional<fs::path> followLinks(fs::path p) {
    for (int i = 0; i < 40; ++i) {
        std::error_code ec;
        if (!fs::is_symlink(fs::symlink_status(p, ec)))
            return p;
        const fs::path to = fs::read_symlink(p, ec);
        if (ec)
            return p;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return std::nullopt;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty() || from == to)
        return;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// Writes the content into a file that stays what it is (a device, a FIFO); the error text.
std::string writeThrough(int fd, const fs::path& from, const std::string& name) {
    std::ifstream in(from, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    // Opened without blocking, to find a FIFO nobody reads; written blocking, or a reader
    // slower than the pipe's buffer would end the dump with EAGAIN.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::string_view rest = content;
    while (!rest.empty()) {
        const ssize_t n = ::write(fd, rest.data(), rest.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return "Cannot write " + name + ": " + reason(n < 0 ? errno : EIO) + ".";
        rest.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// The file that replaces another takes its mode and, where this user may give it, its owner:
// a private dump stays private.
void takeModeAndOwner(const fs::path& written, const fs::path& replaced) {
    struct stat old {};
    if (::stat(replaced.c_str(), &old) != 0 || !S_ISREG(old.st_mode))
        return;
    if (::chown(written.c_str(), old.st_uid, old.st_gid) != 0)
        (void)::chown(written.c_str(), static_cast<uid_t>(-1), old.st_gid);
    ::chmod(written.c_str(), old.st_mode & 07777);
}

// A name the file system takes: a stem too long for the ending cut at a character's start,
// so that a damaged dump still finds a place.
std::string fitName(std::string stem, const std::string& ending) {
    constexpr std::size_t kNameMax = NAME_MAX;
    if (stem.size() + ending.size() <= kNameMax)
        return stem + ending;
    std::size_t keep = ending.size() < kNameMax ? kNameMax - ending.size() : 0;
    while (keep > 0 && (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80)
        --keep;
    return stem.substr(0, keep) + ending;
}

// Where a file name in a sentence ends: at a space, a colon, a comma, a quote, or a full stop
// that ends the sentence.
std::size_t nameEnd(const std::string& text, std::size_t at) {
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c == ' ' || c == ':' || c == ',' || c == '"' || c == '\r' || c == '\n')
            break;
        if (c == '.' && (at + 1 == text.size() || text[at + 1] == ' ' || text[at + 1] == '\r' ||
                         text[at + 1] == '\n'))
            break;
    }
    return at;
}

}  // namespace

DumpTarget::DumpTarget(fs::path output) : output_(std::move(output)) {
    std::error_code ec;
    if (output_ == "-") {
        fd_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0) {
            error_ = "Cannot write to the standard output: " + reason(errno) + ".";
            return;
        }
        final_ = output_;
        writeThrough_ = toStandardOutput_ = true;
    }
    // What the kernel finds at the name, through every link (also those of /proc, such as
    // /dev/stdout's, which name no file).
    const fs::file_type type = writeThrough_ ? fs::file_type::none : fs::status(output_, ec).type();
    switch (type) {
        case fs::file_type::none:  // the standard output, open already
            // Or a name the kernel could not look up: a loop of links, a folder closed to us.
            if (ec) {
                error_ = "Cannot write " + output_.string() + ": " + ec.message() + ".";
                return;
            }
            break;
        case fs::file_type::regular:
            final_ = fs::canonical(output_, ec);
            if (ec)
                final_ = output_;
            break;
        case fs::file_type::not_found: {
            // A link to a file not yet there: the file is made where it points.
            const auto followed = followLinks(output_);
            if (!followed) {
                error_ = "Cannot write " + output_.string() + ": " + reason(ELOOP) + ".";
                return;
            }
            final_ = *followed;
            break;
        }
        case fs::file_type::character:
        case fs::file_type::block:
        case fs::file_type::fifo:
            final_ = output_;
            writeThrough_ = true;
            toStandardOutput_ = isStandardOutput(output_);
            // Not blocking: a FIFO that nobody reads would hold the run for ever.
            fd_ = ::open(output_.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (fd_ < 0) {
                error_ = "Cannot write " + output_.string() + ": " +
                         (errno == ENXIO ? std::string("nothing reads from it") : reason(errno)) +
                         ".";
                return;
            }
            break;
        case fs::file_type::directory:
            error_ = "Cannot write " + output_.string() + ": it is a folder.";
            return;
        default:
            error_ = "Cannot write " + output_.string() + ": " +
                     (ec ? ec.message() : std::string("it is not a file")) + ".";
            return;
    }
    // Beside its file, so that the rename stays on one file system; a device's folder is no
    // place for ours.
    const fs::path parent = writeThrough_              ? fs::temp_directory_path(ec)
                            : final_.has_parent_path() ? final_.parent_path()
                                                       : fs::path(".");
    std::string pattern = (parent / ".kestro-dump-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        error_ = "Cannot write in " + parent.string() + ": " + reason(errno) + ".";
        return;
    }
    folder_ = pattern;
}

DumpTarget::~DumpTarget() {
    if (fd_ >= 0)
        ::close(fd_);
    if (!folder_.empty()) {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
}

fs::path DumpTarget::userPath(const std::string& name) const {
    if (name == kDumpName)
        return output_;
    const std::string rest = name.substr(std::string(kDumpStem).size());
    // Beside a device there is no folder of the user's: the current one takes it.
    if (writeThrough_)
        return fs::path(name);
    return output_.parent_path() / fitName(output_.stem().string(), rest);
}

std::string DumpTarget::userText(std::string text) const {
    for (const auto& [window, shell] : kWindowWords)
        replaceAll(text, window, shell);
    if (folder_.empty())
        return text;
    // The names the operation gives its files, with the private folder or without it: each
    // becomes the name the user will find the file under.
    const std::string folder = folder_.string() + "/";
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const bool withFolder = text.compare(at, folder.size(), folder) == 0;
        const std::size_t nameAt = withFolder ? at + folder.size() : at;
        const bool startsWord = withFolder || at == 0 || text[at - 1] == ' ' ||
                                text[at - 1] == '\n' || text[at - 1] == '"';
        if (startsWord && text.compare(nameAt, std::strlen(kDumpStem), kDumpStem) == 0) {
            const std::size_t end = nameEnd(text, nameAt);
            const std::string name = text.substr(nameAt, end - nameAt);
            if (withFolder || name.ends_with(".s19")) {
                out += userPath(name).string();
                at = end;
                continue;
            }
        }
        out += text[at++];
    }
    return out;
}

std::string DumpTarget::placeBeside() {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder_, ec)) {
        const std::string name = entry.path().filename().string();
        if (name == kDumpName || name.rfind(kDumpStem, 0) != 0 || !entry.is_regular_file(ec))
            continue;
        const fs::path to = userPath(name);
        fs::rename(entry.path(), to, ec);
        if (ec) {
            // Another file system: a copy, then the private one goes with the folder.
            ec.clear();
            fs::copy_file(entry.path(), to, fs::copy_options::overwrite_existing, ec);
        }
        if (ec)
            return "Cannot write " + to.string() + ": " + ec.message() + ".";
    }
    return {};
}

std::string DumpTarget::placeDamaged() {
    const fs::path written = folder_ / kDumpName;
    std::error_code ec;
    if (!fs::exists(written, ec))
        return {};
    const fs::path to = userPath(std::string(kDumpStem) + ".damaged.s19");
    fs::rename(written, to, ec);
    if (ec) {
        ec.clear();
        fs::copy_file(written, to, fs::copy_options::overwrite_existing, ec);
    }
    if (ec)
        return "Cannot write " + to.string() + ": " + ec.message() + ".";
    return "The damaged dump is in " + to.string() + "; " + output_.string() + " is as it was.";
}

std::string DumpTarget::place() {
    const fs::path written = folder_ / kDumpName;
    std::error_code ec;
    if (writeThrough_)
        return writeThrough(fd_, written,
                            output_ == "-" ? std::string("the standard output") : output_.string());
    takeModeAndOwner(written, final_);
    fs::rename(written, final_, ec);
    return ec ? "Cannot write " + output_.string() + ": " + ec.message() + "." : "";
}

bool isStandardOutput(const fs::path& output) {
    if (output == "-")
        return true;
    struct stat out {
    }, named{};
    return ::fstat(STDOUT_FILENO, &out) == 0 && ::stat(output.c_str(), &named) == 0 &&
           out.st_dev == named.st_dev && out.st_ino == named.st_ino;
}

}  // namespace kestro::cli
