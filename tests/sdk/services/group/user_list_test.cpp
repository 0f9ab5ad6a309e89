// Cleaning user lists against the user and group caches, and renaming
// names inside one list.
#include <gtest/gtest.h>

#include <string>

#include "group_fixture.h"

namespace {

using grouptest::Lines;
using UserList = grouptest::GroupRoot;

TEST_F(UserList, KeepsKnownNamesOnceInTheirStoredSpelling)
{
    struct Case {
        const char *name;
        std::string list;
        std::string want;
    };
    const Case cases[] = {
        {.name = "users", .list = "anna,ANNA,nobody,,ghost,admin,NOBODY", .want = "valid [Anna,admin]"},
        {.name = "groups", .list = "@users,@USERS,@nope,@,@staff2", .want = "valid [@users]"},
        {.name = "no key form", .list = "admin,b\xff," + std::string(600, 'x') + ",@\xfe,Anna", .want = "valid [admin,Anna]"},
        {.name = "domain items outside domain mode", .list = "DOM\\bob,gone", .want = "valid [gone]"},
        {.name = "empty", .list = "", .want = "valid []"},
    };
    Lines ops = {"db"};
    Lines want = {"db ok"};
    for (const Case &c : cases) {
        ops.insert(ops.end(), {"valid", c.list});
        want.push_back(c.want);
    }
    EXPECT_EQ(run(ops), want);
}

TEST_F(UserList, GroupItemsNeedAGroupDatabase)
{
    EXPECT_EQ(run({"valid", "admin,@users", "valid1", "admin,Admin,nobody", "valid1", "admin,@users"}),
              (Lines{"valid -1 0x4000", "valid1 [admin]", "valid1 -1 0x4000"}));
}

TEST_F(UserList, DomainUsersOnlyWhenTheCacheHoldsThem)
{
    domainMode();
    app.writeFile("/usr/vexa/etc/private/domain_user", "DOM\\bob:S-1-5\n");
    app.writeFile("/usr/vexa/etc/private/domain_group", "DOM\\admins:S-1-5\n");
    EXPECT_EQ(run({"db", "valid", "dom\\BOB,DOM\\eve,@DOM\\ADMINS,@DOM\\nope,admin"}),
              (Lines{"db ok", "valid [DOM\\bob,@DOM\\admins,admin]"}));
}

TEST_F(UserList, RenameMapChangesOrDropsNames)
{
    struct Case {
        const char *name;
        const char *list;
        const char *map;
        const char *want;
    };
    const Case cases[] = {
        {.name = "rename second", .list = "admin,anna", .map = "ANNA=Hanna", .want = "modify 1 [admin,Hanna] 12"},
        {.name = "drop second", .list = "admin,Anna", .map = "anna=", .want = "modify 1 [admin] 6"},
        {.name = "drop both", .list = "admin,Anna", .map = "anna=,admin=", .want = "modify 1 [] 1"},
        {.name = "none", .list = "admin,Anna", .map = "bob=x", .want = "modify 0 [admin,Anna] same 11"},
        {.name = "empty list", .list = "", .map = "bob=x", .want = "modify 0 [] same 1"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(run({"modify", c.list, c.map}), (Lines{c.want})) << c.name;
}

}  // namespace
