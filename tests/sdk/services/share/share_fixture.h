// The appliance root of the share tests: the account fixtures with groups,
// an smb.conf, and the removal of the share cache as after a boot.
#ifndef VEXA_TEST_SHARE_FIXTURE_H
#define VEXA_TEST_SHARE_FIXTURE_H

#include <string>

#include "../user/user_fixture.h"

namespace sharetest {

using usertest::Lines;

// users (100) with every local user, staff (65540), users2 (65541).
inline const char kGroups[] =
    "#$_@GID__INDEX@_$70000$\n"
    "root:x:0:\n"
    "users:x:100:admin,guest,Anna,nomisc,gone\n"
    "staff:x:65540:nobody,Anna,admin,nobody\n"
    "users2:x:65541:nobody,Anna,nobody\n";

class ShareRoot : public usertest::UserRoot {
protected:
    void SetUp() override
    {
        UserRoot::SetUp();
        app.writeFile("/etc/group", kGroups, 0644);
        app.writeFile("/etc/group_desc", "staff:the staff\n", 0644);
    }
    void conf(const std::string &text, mode_t mode = 0644) { app.writeFile("/usr/vexa/etc/smb.conf", text, mode); }
    // The next open builds the cache from smb.conf again.
    void dropCache() { sh("rm -f /tmp/.db.vexashare.0832"); }
};

}  // namespace sharetest

#endif
