// SPDX-License-Identifier: GPL-3.0-or-later
#include "access_check.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

using Kind = AccessProblem::Kind;

TEST(AccessCheck, NamesWhatKeepsTheUserOut) {
    constexpr gid_t kUsers = 100;
    constexpr gid_t kDialout = 20;
    const auto tty = [](mode_t mode, gid_t group, const char* name) {
        return FileAccess{"", mode, 0, group, "root", name};
    };
    const FileAccess dev{"/dev", 0755, 0, 0, "root", "root"};
    const FileAccess closed{"/dev/serial", 0700, 0, 0, "root", "root"};
    // Each device behind / and the folder given.
    const std::tuple<FileAccess, FileAccess, std::vector<gid_t>, AccessProblem> cases[] = {
        {dev, tty(0660, kDialout, "dialout"), {kUsers}, {Kind::NotInGroup, "dialout"}},
        {dev, tty(0660, 5, "uucp"), {kUsers}, {Kind::NotInGroup, "uucp"}},
        {dev, tty(0600, 0, "root"), {kUsers}, {Kind::OwnerOnly, "root"}},
        {dev, tty(0640, kDialout, "dialout"), {kUsers, kDialout}, {Kind::OwnerOnly, "root"}},
        {closed, tty(0666, kDialout, "dialout"), {kUsers}, {Kind::ClosedFolder, "/dev/serial"}},
        {dev, tty(0660, kDialout, "dialout"), {kUsers, kDialout}, {}},
    };
    for (auto [folder, device, groups, expected] : cases) {
        device.path = folder.path + "/ttyUSB0";
        EXPECT_EQ(diagnoseAccess({{"/", 0755, 0, 0, "root", "root"}, folder, device}, 1000, groups),
                  expected)
            << device.path << " " << std::oct << device.mode;
    }
    EXPECT_EQ(diagnoseAccess({}, 1000, {kUsers}), AccessProblem{});
    // A missing device behind open folders names nothing.
    EXPECT_EQ(diagnoseAccess("/dev/kestro-no-such-tty"), AccessProblem{});
}

}  // namespace
}  // namespace kestro
