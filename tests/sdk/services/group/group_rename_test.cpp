// A group's rename carried into the user lists of every share.
#include <gtest/gtest.h>

#include <string>

#include "group_fixture.h"

namespace {

using grouptest::Lines;

class GroupRename : public grouptest::GroupRoot {
protected:
    void SetUp() override
    {
        GroupRoot::SetUp();
        writeGroups(grouptest::baseGroup() + "staff2:x:65541:admin\nmy group:x:65542:Anna\n", grouptest::baseDesc());
        app.writeFile("/usr/vexa/etc/smb.conf",
                      "[global]\n\tsecurity = user\n\tworkgroup = WG\n"
                      "[A]\n\tpath = /v/a\n\tinvalid users = @staff2,@staff\n\twrite list = @staff,admin\n"
                      "\tread list = @staff\n"
                      "[B]\n\tpath = /v/b\n\tread list = @my group,Anna\n\twrite list = @staff2\n"
                      "[C]\n\tpath = /v/c\n\twrite list = admin\n");
    }
};

TEST_F(GroupRename, ReplaceMatchesWholeItemsOnly)
{
    struct Case {
        const char *name;
        const char *list;
        const char *want;
    };
    const Case cases[] = {
        {.name = "middle", .list = "@staff2,@Staff,@staff,x", .want = "replace 1 [@staff2,@Staff,@crew,x]"},
        {.name = "inside an item", .list = "a@staff,@staff", .want = "replace 1 [a@staff,@crew]"},
        {.name = "first only", .list = "@staff,@staff", .want = "replace 1 [@crew,@staff]"},
        {.name = "last", .list = "admin,@staff", .want = "replace 1 [admin,@crew]"},
        {.name = "absent", .list = "admin,@staff2", .want = "replace 0 [admin,@staff2] same"},
        {.name = "empty", .list = "", .want = "replace 0 [] same"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(run({"replace", c.list, "staff", "crew"}), (Lines{c.want})) << c.name;
}

TEST_F(GroupRename, RenameReachesEveryList)
{
    const Lines want = {"gset 0 gid=65540", "share A i=@staff2,@crew w=@crew,admin r=@crew",
                        "share B i= w=@staff2 r=@my group,Anna", "share C i= w=admin r="};
    struct Case {
        const char *name;
        Lines before;
    };
    // a cache read before, and none at all, as after a boot
    const Case cases[] = {{.name = "cache held", .before = {"sdb"}}, {.name = "no cache", .before = {}}};
    for (const Case &c : cases) {
        SetUp();
        sh("rm -f /tmp/.db.vexashare.0832 /tmp/.db.group.*");
        Lines ops = c.before;
        ops.insert(ops.end(), {"gset", "staff", "crew", "65540", "admin", "share", "A", "share", "B", "share", "C"});
        Lines got = run(ops);
        if (!c.before.empty())
            got.erase(got.begin());
        EXPECT_EQ(got, want) << c.name;
        EXPECT_EQ(app.readFile("/etc/group_desc"), "smmsp:mail\ncrew:Staff members:of the house\n") << c.name;
        const std::string conf = app.readFile("/usr/vexa/etc/smb.conf");
        EXPECT_EQ(conf.find("@staff,"), std::string::npos) << conf;
    }
}

TEST_F(GroupRename, CaseOnlyAndBlankNamesAreCarried)
{
    EXPECT_EQ(run({"gset", "staff", "STAFF", "65540", "admin", "gset", "my group", "our group", "65542", "Anna", "share",
                   "A", "share", "B"}),
              (Lines{"gset 0 gid=65540", "gset 0 gid=65542", "share A i=@staff2,@STAFF w=@STAFF,admin r=@STAFF",
                     "share B i= w=@staff2 r=@our group,Anna"}));
}

TEST_F(GroupRename, AShareThatCannotBeReadStopsTheCarry)
{
    const std::string before = app.readFile("/usr/vexa/etc/smb.conf");
    EXPECT_EQ(run({"corruptshare", "B", "gset", "staff", "crew", "65540", "admin", "gget", "crew"}),
              (Lines{"corruptshare 0", "gset -1 0x4000 gid=65540", "gget crew|65540|admin|1"}));
    // no share stored, smb.conf not rewritten
    EXPECT_EQ(app.readFile("/usr/vexa/etc/smb.conf"), before);
    EXPECT_EQ(run({"share", "A"}), (Lines{"share A i=@staff2,@staff w=@staff,admin r=@staff"}));
}

TEST_F(GroupRename, UpdateWithoutRenameLeavesSmbConf)
{
    const std::string before = app.readFile("/usr/vexa/etc/smb.conf");
    EXPECT_EQ(run({"gset", "staff", "staff", "65540", "admin"}), (Lines{"gset 0 gid=65540"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/smb.conf"), before);
}

}  // namespace
