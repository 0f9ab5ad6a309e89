// The appliance root of the group tests: the account files of the user
// tests plus /etc/group and /etc/group_desc.
#ifndef VEXA_TEST_GROUP_FIXTURE_H
#define VEXA_TEST_GROUP_FIXTURE_H

#include <string>

#include "../user/user_fixture.h"

namespace grouptest {

using Lines = usertest::Lines;

// smmsp (25) and users (100) are system groups; staff (65540) lists
// unknown, repeated and "nobody" members.
inline std::string baseGroup()
{
    return "#$_@GID__INDEX@_$70000$\n"
           "root:x:0:\n"
           "smmsp:x:25:admin,nobody,ghost\n"
           "users:x:100:admin,Anna\n"
           "staff:x:65540:nobody,anna,ghost,admin,ANNA,nobody\n";
}

inline std::string baseDesc()
{
    return "staff:Staff members:of the house\n"
           "smmsp:mail\n";
}

class GroupRoot : public usertest::UserRoot {
protected:
    void SetUp() override
    {
        UserRoot::SetUp();
        writeGroups(baseGroup(), baseDesc());
    }
    void writeGroups(const std::string &group, const std::string &desc)
    {
        app.writeFile("/etc/group", group, 0644);
        app.writeFile("/etc/group_desc", desc, 0644);
    }
};

}  // namespace grouptest

#endif
