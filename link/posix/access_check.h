// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "serial_port.h"

namespace kestro {

// What the system says about one file on the way to a device.
struct FileAccess {
    std::string path;
    mode_t mode = 0;  // permission bits
    uid_t owner = 0;
    gid_t group = 0;
    std::string ownerName;
    std::string groupName;
};

// Why a user with the given ids may not read and write the device at the end of chain, whose
// other entries are the folders leading to it, outermost first. Only the process's own groups
// count: a user just added to a group is not in it until the next login.
AccessProblem diagnoseAccess(const std::vector<FileAccess>& chain, uid_t uid,
                             const std::vector<gid_t>& groups);

// The same for a device path, as this process sees it now.
AccessProblem diagnoseAccess(const std::string& devicePath);

}  // namespace kestro
