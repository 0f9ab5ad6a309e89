// Groups kept whole: a domain list never replaces a local group, and two
// lines of one key form refuse the build.
#include <gtest/gtest.h>

#include <string>

#include "group_fixture.h"

namespace {

using grouptest::Lines;
using GroupWhole = grouptest::GroupRoot;

TEST_F(GroupWhole, DomainListNeverReplacesALocalGroup)
{
    domainMode();
    app.writeFile("/usr/vexa/etc/private/domain_group", "staff:S-1\nSMMSP:S-2\n#VEXA@DEPRECATED:S-3\nDOM\\admins:S-4\n");
    EXPECT_EQ(run({"gset", "-", "team", "-1", "admin", "db", "walk", "3", "0"}),
              (Lines{"gset 0 gid=70001", "db ok", "walk DOM\\admins staff team users 0xB500"}));
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$70001$\n"
                                          "root:x:0:\n"
                                          "smmsp:x:25:admin\n"
                                          "users:x:100:admin,Anna\n"
                                          "staff:x:65540:nobody,Anna,admin,nobody\n"
                                          "team:x:70001:nobody,admin,nobody\n");
}

TEST_F(GroupWhole, LinesOfOneKeyFormRefuseTheBuild)
{
    for (const char *extra : {"STAFF:x:70001:admin\n", "staff:x:70001:admin\n"}) {
        writeGroups(grouptest::baseGroup() + extra, grouptest::baseDesc());
        EXPECT_EQ(run({"db", "gset", "-", "team", "-1", "admin"}), (Lines{"db null 0x0900", "gset -1 0x0900 gid=-1"}))
            << extra;
        EXPECT_EQ(app.readFile("/etc/group"), grouptest::baseGroup() + extra);
    }
}

}  // namespace
