// SPDX-License-Identifier: GPL-3.0-or-later
#include "access_check.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace kestro {

namespace {

constexpr mode_t kSearch = 01;
constexpr mode_t kReadWrite = 06;

bool allowed(const FileAccess& f, mode_t need, uid_t uid, const std::vector<gid_t>& groups) {
    if (uid == 0)
        return true;
    if (uid == f.owner)
        return ((f.mode >> 6) & need) == need;
    if (std::find(groups.begin(), groups.end(), f.group) != groups.end())
        return ((f.mode >> 3) & need) == need;
    return (f.mode & need) == need;
}

std::string ownerName(uid_t uid) {
    if (const passwd* p = ::getpwuid(uid))
        return p->pw_name;
    return std::to_string(uid);
}

std::string groupName(gid_t gid) {
    if (const group* g = ::getgrgid(gid))
        return g->gr_name;
    return std::to_string(gid);
}

}  // namespace

AccessProblem diagnoseAccess(const std::vector<FileAccess>& chain, uid_t uid,
                             const std::vector<gid_t>& groups) {
    if (chain.empty())
        return {};
    for (auto folder = chain.begin(); folder + 1 != chain.end(); ++folder)
        if (!allowed(*folder, kSearch, uid, groups))
            return {AccessProblem::Kind::ClosedFolder, folder->path};
    const FileAccess& device = chain.back();
    if (uid == device.owner || allowed(device, kReadWrite, uid, groups))
        return {};  // refused for a reason the permission bits do not show
    const bool groupMay = ((device.mode >> 3) & kReadWrite) == kReadWrite;
    const bool inGroup = std::find(groups.begin(), groups.end(), device.group) != groups.end();
    if (groupMay && !inGroup)
        return {AccessProblem::Kind::NotInGroup, device.groupName};
    if (!groupMay && (device.mode & kReadWrite) != kReadWrite)
        return {AccessProblem::Kind::OwnerOnly, device.ownerName};
    return {};
}

AccessProblem diagnoseAccess(const std::string& devicePath) {
    std::vector<FileAccess> chain;
    const std::filesystem::path device = std::filesystem::absolute(devicePath);
    std::filesystem::path at = device.root_path();
    const auto add = [&chain](const std::filesystem::path& p) {
        struct stat st {};
        if (::stat(p.c_str(), &st) != 0)
            return false;
        chain.push_back({p.string(), st.st_mode & 07777, st.st_uid, st.st_gid, ownerName(st.st_uid),
                         groupName(st.st_gid)});
        return true;
    };
    if (!add(at))
        return {};
    for (const auto& part : device.relative_path()) {
        at /= part;
        if (!add(at))
            break;  // a folder we may not search hides what lies beyond it
    }
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    groups.resize(static_cast<std::size_t>(
        std::max(::getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
    groups.push_back(::getegid());
    if (chain.back().path != device.string()) {
        // The device itself could not be looked at: only a closed folder on the way can be
        // named, so the device stands in as one anybody may use.
        chain.push_back({device.string(), 0666, 0, 0, {}, {}});
    }
    return diagnoseAccess(chain, ::geteuid(), groups);
}

}  // namespace kestro
