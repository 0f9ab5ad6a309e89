// The update's copy of a local "ftp" user on a volume that another user
// can write: with the homes folder swapped for a link to "/etc/cron.d", the
// copy "ftp1" is made without a home there, and nothing appears in
// "/etc/cron.d".
#include <gtest/gtest.h>

#include <string>

#include "../../sdk/services/user/user_fixture.h"

namespace {

using usertest::Lines;

class FtpCopyHomes : public usertest::UserRoot {
protected:
    void SetUp() override
    {
        UserRoot::SetUp();
        app.writeFile("/etc/nsswitch.conf", "passwd: files\ngroup: files\nshadow: files\n");
        app.writeFile("/etc/group", "root:x:0:\nusers:x:100:\nsmmsp:x:25:\n");
        app.writeFile("/etc/group_desc", "");
        app.mkdir("/var/log");
        usertest::Accounts a = usertest::baseAccounts();
        a.passwd += "ftp:x:1030:100:ftp of old:/var/services/homes/ftp:/bin/sh\n";
        a.shadow += "ftp:" + usertest::md5("secret", "ft") + ":19000:0:99999:7:::\n";
        a.smbpasswd += "ftp:1030:" + std::string(32, 'A') + ":" + std::string(32, 'B') + ":[U          ]:LCT-5F000000:\n";
        writeAccounts(a);
        app.writeFile("/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = user\n[homes]\n\tpath = /volume1/homes\n");
        app.writeFile("/etc/cron.d/keep", "# kept\n", 0644);
        bindVolume();
        volumeDir("homes", 0777);
        volumeDir(".", 0777);
    }
};

TEST_F(FtpCopyHomes, HomesSwappedForALinkGetNoHome)
{
    const approot::RunResult plant =
        app.run({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/sh", "-c",
                 "mv /volume1/homes /volume1/old && ln -s /etc/cron.d /volume1/homes"});
    ASSERT_EQ(plant.status, 0) << plant.err;
    const std::string cron = sh("ls -ln /etc/cron.d; cat /etc/cron.d/keep");
    EXPECT_EQ(run({"copy", "ftp"}), (Lines{"copy 0"}));
    EXPECT_NE(app.readFile("/etc/passwd").find("\nftp1:x:1031:100:"), std::string::npos);
    EXPECT_EQ(sh("ls -ln /etc/cron.d; cat /etc/cron.d/keep"), cron);
    for (const approot::Change &c : app.changes())
        EXPECT_NE(c.path.rfind("/etc/cron.d", 0), 0u) << c.kind << " " << c.path;
    bool logged = false;
    for (const std::string &l : app.syslog())
        logged = logged || l.find("open homes folder [/volume1/homes] at [homes] failed") != std::string::npos;
    EXPECT_TRUE(logged);
}

}  // namespace
