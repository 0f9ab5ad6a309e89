// The code a refused group change leaves: that of the step that refused
// it, also when no share list had to follow a rename.
#include <gtest/gtest.h>

#include <string>

#include "group_fixture.h"

namespace {

using grouptest::Lines;
using GroupCodes = grouptest::GroupRoot;

TEST_F(GroupCodes, RefusalsThatRenameNothingKeepTheirCode)
{
    struct Case {
        const char *name;
        Lines set;
        const char *want;
    };
    const Case cases[] = {
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
}

}  // namespace
