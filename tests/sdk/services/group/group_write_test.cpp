// Group writes into the cache, free gids and the dump of the group files.
#include <gtest/gtest.h>

#include <string>

#include "group_fixture.h"

namespace {

using grouptest::Lines;
using GroupWrite = grouptest::GroupRoot;

const std::string kDumped =
    "#$_@GID__INDEX@_$70000$\n"
    "root:x:0:\n"
    "smmsp:x:25:admin\n"
    "users:x:100:admin,Anna\n"
    "staff:x:65540:nobody,Anna,admin,nobody\n";

TEST_F(GroupWrite, DumpWrapsEveryApplianceGroupsMembersInNobody)
{
    EXPECT_EQ(run({"db", "dump", "set", "-", "team", "70003", "nobody,gone,ghost,admin,GONE", "set", "-", "none",
                   "70004", "-", "set", "-", "low", "300", "admin,nobody", "dump"}),
              (Lines{"db ok", "dump 0", "set 0", "set 0", "set 0", "dump 0"}));
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$70000$\n"
                                          "root:x:0:\n"
                                          "smmsp:x:25:admin\n"
                                          "users:x:100:admin,Anna\n"
                                          "low:x:300:admin\n"
                                          "staff:x:65540:nobody,Anna,admin,nobody\n"
                                          "team:x:70003:nobody,gone,admin,nobody\n"
                                          "none:x:70004:nobody,nobody\n");
    EXPECT_EQ(app.readFile("/etc/group_desc"), "smmsp:mail\nstaff:Staff members:of the house\n");
    // the cache matches its files again: the next open reads them as they are
    EXPECT_EQ(run({"db", "get", "team"}),
              (Lines{"db ok", "get team:x:70003:nobody,gone,admin,nobody = team|70003|gone,admin|1"}));
}

TEST_F(GroupWrite, RenameCarriesTheDescriptionAndTheGid)
{
    EXPECT_EQ(run({"db", "set", "staff", "crew", "65540", "admin", "get", "staff", "get", "crew", "dump"}),
              (Lines{"db ok", "set 0", "get -1 0x2000", "get crew:x:65540:nobody,admin,nobody = crew|65540|admin|1",
                     "dump 0"}));
    EXPECT_EQ(app.readFile("/etc/group_desc"), "smmsp:mail\ncrew:Staff members:of the house\n");
    EXPECT_NE(app.readFile("/etc/group").find("\ncrew:x:65540:nobody,admin,nobody\n"), std::string::npos);
}

TEST_F(GroupWrite, SystemGroupsAreUpdatedInPlaceOnly)
{
    struct Case {
        const char *name;
        Lines set;
        const char *want;
    };
    const Case cases[] = {
        {.name = "update smmsp", .set = {"smmsp", "smmsp", "25", "admin,Anna"}, .want = "set 0"},
        {.name = "rename smmsp", .set = {"smmsp", "mail", "25", "admin"}, .want = "set -1 0xB700"},
        {.name = "update users", .set = {"users", "users", "100", "admin"}, .want = "set -1 0xB700"},
        {.name = "onto staff", .set = {"smmsp", "staff", "25", "admin"}, .want = "set -1 0x1700"},
        {.name = "bad name", .set = {"-", "a@b", "70009", "admin"}, .want = "set -1 0x1600"},
        {.name = "too long", .set = {"-", "sixteen_chars_xx", "70009", "admin"}, .want = "set -1 0x1600"},
    };
    for (const Case &c : cases) {
        Lines ops = {"db", "set"};
        ops.insert(ops.end(), c.set.begin(), c.set.end());
        ops.push_back("dump");
        const Lines out = run(ops);
        ASSERT_EQ(out.size(), 3u) << c.name;
        EXPECT_EQ(out[1], c.want) << c.name;
    }
    // smmsp keeps its place by gid; "users" is as it was
    const std::string g = app.readFile("/etc/group");
    EXPECT_NE(g.find("root:x:0:\nsmmsp:x:25:admin,Anna\nusers:x:100:admin,Anna\n"), std::string::npos) << g;
}

TEST_F(GroupWrite, FreeGidTable)
{
    struct Case {
        const char *name;
        Lines ops;
        const char *want;
    };
    const Case cases[] = {
        {.name = "next after current", .ops = {"take", "70001", "70001"}, .want = "free 70002"},
        {.name = "wraps", .ops = {"setcurgid", "196607"}, .want = "free 65536"},
        {.name = "out of range", .ops = {"setcurgid", "5"}, .want = "free 65536"},
        {.name = "all taken", .ops = {"take", "65536", "196607"}, .want = "free -1 0x1900"},
    };
    for (const Case &c : cases) {
        sh("rm -f /tmp/.db.group.*");
        Lines ops = {"db"};
        ops.insert(ops.end(), c.ops.begin(), c.ops.end());
        ops.push_back("free");
        const Lines out = run(ops);
        EXPECT_EQ(out.back(), c.want) << c.name;
    }
}

TEST_F(GroupWrite, GroupsSharingAGidKeepEachOther)
{
    writeGroups(grouptest::baseGroup() + "a:x:70000:admin\nb:x:70000:Anna\n", "");
    EXPECT_EQ(run({"db", "del", "a", "dump"}), (Lines{"db ok", "del 0", "dump 0"}));
    EXPECT_EQ(app.readFile("/etc/group"), kDumped + "b:x:70000:nobody,Anna,nobody\n");
    writeGroups(grouptest::baseGroup() + "a:x:70000:admin\nb:x:70000:Anna\n", "");
    EXPECT_EQ(run({"db", "set", "a", "c", "70000", "gone", "dump"}), (Lines{"db ok", "set 0", "dump 0"}));
    EXPECT_EQ(app.readFile("/etc/group"),
              kDumped + "b:x:70000:nobody,Anna,nobody\nc:x:70000:nobody,gone,nobody\n");
}

TEST_F(GroupWrite, AFailedMemberFilterChangesNothing)
{
    EXPECT_EQ(run({"db", "set", "staff", "staff", "65540", "admin,@users", "set", "-", "new", "70005", "@users", "get",
                   "staff", "get", "new", "dump"}),
              (Lines{"db ok", "set -1 0x4000", "set -1 0x4000",
                     "get staff:x:65540:Anna,admin = staff|65540|Anna,admin|1", "get -1 0x2000", "dump 0"}));
    EXPECT_EQ(app.readFile("/etc/group"), kDumped);
    EXPECT_EQ(app.readFile("/etc/group_desc"), "smmsp:mail\nstaff:Staff members:of the house\n");
}

TEST_F(GroupWrite, ADumpNamingAMissingGroupLeavesBothFiles)
{
    EXPECT_EQ(run({"db", "take", "70009", "70009", "dump"}), (Lines{"db ok", "take 0", "dump -1 0x2000"}));
    EXPECT_EQ(app.readFile("/etc/group"), grouptest::baseGroup());
    EXPECT_EQ(app.readFile("/etc/group_desc"), grouptest::baseDesc());
    EXPECT_FALSE(app.exists("/etc/group_tmp") || app.exists("/etc/group_desc.tmp"));
}

TEST_F(GroupWrite, AFullDiskLeavesBothFiles)
{
    EXPECT_EQ(run({"db", "set", "-", "team", "70003", "admin", "dumpfull"}),
              (Lines{"db ok", "set 0", "dumpfull -1 0x2900 fired=1"}));
    EXPECT_EQ(app.readFile("/etc/group"), grouptest::baseGroup());
    EXPECT_EQ(app.readFile("/etc/group_desc"), grouptest::baseDesc());
    EXPECT_FALSE(app.exists("/etc/group_tmp") || app.exists("/etc/group_desc.tmp"));
}

TEST_F(GroupWrite, DumpKeepsOwnerAndModeUnderUmask0)
{
    sh("chown 0:42 /etc/group && chmod 640 /etc/group && chown 7:0 /etc/group_desc && chmod 600 /etc/group_desc");
    EXPECT_EQ(runUmask0({"db", "set", "-", "team", "70003", "admin", "dump"}), (Lines{"db ok", "set 0", "dump 0"}));
    EXPECT_EQ(sh("stat -c '%a %u %g' /etc/group /etc/group_desc"), "640 0 42\n600 7 0\n");
    EXPECT_NE(app.readFile("/etc/group").find("team:x:70003:nobody,admin,nobody\n"), std::string::npos);
}

TEST_F(GroupWrite, AnEditSinceTheOpenIsNotOverwritten)
{
    EXPECT_EQ(run({"db", "set", "-", "team", "70003", "admin"}), (Lines{"db ok", "set 0"}));
    app.writeFile("/etc/group", grouptest::baseGroup() + "hand:x:70100:\n", 0644);
    EXPECT_EQ(run({"db", "dump"}), (Lines{"db ok", "dump 0"}));
    const std::string g = app.readFile("/etc/group");
    EXPECT_NE(g.find("hand:x:70100:nobody,nobody\n"), std::string::npos) << g;
}

}  // namespace
