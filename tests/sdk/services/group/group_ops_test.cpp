// The public group operations: reads and changes under the lock files.
#include <gtest/gtest.h>

#include <string>

#include "group_fixture.h"

namespace {

using grouptest::Lines;
using GroupOps = grouptest::GroupRoot;

TEST_F(GroupOps, NewGroupGetsTheNextGidInRecordCacheAndFiles)
{
    EXPECT_EQ(run({"gset", "-", "team", "-1", "admin,nobody,ghost", "db", "curgid", "gget", "TEAM"}),
              (Lines{"gset 0 gid=70001", "db ok", "curgid 70001", "gget team|70001|admin|1"}));
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$70001$\n"
                                          "root:x:0:\n"
                                          "smmsp:x:25:admin\n"
                                          "users:x:100:admin,Anna\n"
                                          "staff:x:65540:nobody,Anna,admin,nobody\n"
                                          "team:x:70001:nobody,admin,nobody\n");
    EXPECT_EQ(app.readFile("/etc/group_desc"), "smmsp:mail\nstaff:Staff members:of the house\n");
}

TEST_F(GroupOps, RefusedChanges)
{
    struct Case {
        const char *name;
        Lines set;
        const char *want;
    };
    const Case cases[] = {
        {.name = "new onto existing", .set = {"-", "STAFF", "70009", "admin"}, .want = "gset -1 0x1700 gid=70009"},
        {.name = "rename onto existing", .set = {"staff", "users", "70009", "admin"}, .want = "gset -1 0x1700 gid=70009"},
        {.name = "old not there", .set = {"nope", "nope", "70009", "admin"}, .want = "gset -1 0x1800 gid=70009"},
        {.name = "rename smmsp", .set = {"smmsp", "mail", "25", "admin"}, .want = "gset -1 0xB700 gid=25"},
        {.name = "users", .set = {"users", "Users", "100", "admin"}, .want = "gset -1 0xB700 gid=100"},
        {.name = "empty name", .set = {"-", "", "70009", "admin"}, .want = "gset -1 0x0D00 gid=70009"},
        // refusals of a call that renames nothing keep their own code
        {.name = "bad name", .set = {"-", "a@b", "70009", "admin"}, .want = "gset -1 0x1600 gid=70009"},
        {.name = "long name", .set = {"-", "sixteen_chars_xx", "70009", "admin"}, .want = "gset -1 0x1600 gid=70009"},
        {.name = "users in place", .set = {"users", "users", "100", "admin"}, .want = "gset -1 0xB700 gid=100"},
    };
    for (const Case &c : cases) {
        Lines ops = {"gset"};
        ops.insert(ops.end(), c.set.begin(), c.set.end());
        EXPECT_EQ(run(ops), (Lines{c.want})) << c.name;
    }
    EXPECT_EQ(app.readFile("/etc/group"), grouptest::baseGroup());
    EXPECT_EQ(run({"gget", "nope", "gget", "Staff"}), (Lines{"gget -1 0x1800", "gget staff|65540|Anna,admin|1"}));
}

TEST_F(GroupOps, CaseOnlyChangeRewritesTheName)
{
    EXPECT_EQ(run({"gset", "staff", "STAFF", "65540", "admin", "gget", "staff"}),
              (Lines{"gset 0 gid=65540", "gget STAFF|65540|admin|1"}));
    EXPECT_EQ(app.readFile("/etc/group_desc"), "smmsp:mail\nSTAFF:Staff members:of the house\n");
}

TEST_F(GroupOps, ASharedHoldIsNeitherUpgradedNorDropped)
{
    // PW and GR shared (0x35): the write is refused, the hold stays
    EXPECT_EQ(run({"lock", "0x35", "gset", "-", "team", "-1", "admin", "gget", "staff", "flocktry", "/tmp/lock/lock_gr",
                   "flocktry", "/tmp/lock/lock_pw", "unlock", "0x30", "flocktry", "/tmp/lock/lock_gr"}),
              (Lines{"lock 0", "gset -1 0x0400 gid=-1", "gget staff|65540|Anna,admin|1", "flocktry 1", "flocktry 1",
                     "unlock 0", "flocktry 0"}));
    EXPECT_EQ(app.readFile("/etc/group"), grouptest::baseGroup());
    // inside an exclusive hold (0x76) it works and the hold stays
    EXPECT_EQ(run({"lock", "0x76", "gset", "-", "team", "-1", "admin", "flocktry", "/tmp/lock/lock_smb", "unlock",
                   "0x70", "flocktry", "/tmp/lock/lock_smb"}),
              (Lines{"lock 0", "gset 0 gid=70001", "flocktry 1", "unlock 0", "flocktry 0"}));
}

}  // namespace
