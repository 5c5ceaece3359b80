#include "access_check.h"

#include <gtest/gtest.h>

namespace kestro {
namespace {

using Kind = AccessProblem::Kind;

constexpr uid_t kUser = 1000;
constexpr gid_t kUsers = 100;
constexpr gid_t kDialout = 20;

FileAccess folder(const char* path, mode_t mode) {
    return {path, mode, 0, 0, "root", "root"};
}

FileAccess device(mode_t mode, gid_t group, const char* groupName) {
    return {"/dev/ttyUSB0", mode, 0, group, "root", groupName};
}

TEST(AccessCheck, NamesWhatKeepsTheUserOut) {
    struct Case {
        const char* name;
        std::vector<FileAccess> chain;
        std::vector<gid_t> groups;
        AccessProblem expected;
    };
    const FileAccess root = folder("/", 0755);
    const FileAccess dev = folder("/dev", 0755);
    const Case cases[] = {
        {"not in dialout",
         {root, dev, device(0660, kDialout, "dialout")},
         {kUsers},
         {Kind::NotInGroup, "dialout"}},
        {"not in another group that may use it",
         {root, dev, device(0660, 5, "uucp")},
         {kUsers},
         {Kind::NotInGroup, "uucp"}},
        {"root alone", {root, dev, device(0600, 0, "root")}, {kUsers}, {Kind::OwnerOnly, "root"}},
        {"in the group, which may not write",
         {root, dev, device(0640, kDialout, "dialout")},
         {kUsers, kDialout},
         {Kind::OwnerOnly, "root"}},
        {"closed folder",
         {root, folder("/dev/serial", 0700), device(0666, kDialout, "dialout")},
         {kUsers},
         {Kind::ClosedFolder, "/dev/serial"}},
        {"in the group that may use it",
         {root, dev, device(0660, kDialout, "dialout")},
         {kUsers, kDialout},
         {}},
        {"nothing to look at", {}, {kUsers}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(diagnoseAccess(c.chain, kUser, c.groups), c.expected) << c.name;
}

TEST(AccessCheck, AMissingDeviceBehindOpenFoldersNamesNothing) {
    EXPECT_EQ(diagnoseAccess("/dev/kestro-no-such-tty"), AccessProblem{});
}

}  // namespace
}  // namespace kestro
