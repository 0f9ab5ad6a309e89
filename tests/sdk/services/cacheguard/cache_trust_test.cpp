// Caches another user can write (the old firmware leaves them 0666) are
// never read, dumped or reused: root builds new files, others are refused.
#include <gtest/gtest.h>

#include <string>

#include "cacheguard_fixture.h"

namespace {

using guardtest::Lines;

class CacheTrust : public guardtest::GuardRoot {
protected:
    Lines asNobody(const Lines &ops)
    {
        Lines argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        for (const std::string &a : vexatest::probe::argv(ops))
            argv.push_back(a);
        const approot::RunResult r = app.run(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        return vexatest::probe::said(r.out);
    }
    std::string inodes() { return sh("stat -c %i /tmp/.db.user.*.0832"); }
};

TEST_F(CacheTrust, CachesOthersCanWriteAreRebuiltBeforeAnyDump)
{
    const std::string adminHash = usertest::md5("adm", "ad");
    const std::string forged = "admin:$1$ev$forgedforgedforged0000:19000:0:99999:7:::";
    ASSERT_EQ(run({"open", "user"}), (Lines{"open user ok"}));
    sh("chmod 0666 /tmp/.db.user.*.0832");
    const std::string before = inodes();
    EXPECT_EQ(asNobody({"forge", "ADMIN", forged}), (Lines{"forge 0"}));

    // another process is refused before root has built new files
    EXPECT_EQ(asNobody({"open", "user"}), (Lines{"open user null 0x0900"}));

    EXPECT_EQ(run({"passwd", "Anna", "$1$ab$newhashnewhashnewhash0"}), (Lines{"passwd 0"}));
    const std::string shadow = app.readFile("/etc/shadow");
    EXPECT_NE(shadow.find("admin:" + adminHash + ":"), std::string::npos) << shadow;
    EXPECT_EQ(shadow.find("forged"), std::string::npos) << shadow;
    EXPECT_NE(shadow.find("Anna:$1$ab$newhashnewhashnewhash0:"), std::string::npos) << shadow;
    EXPECT_NE(inodes(), before);
    EXPECT_EQ(sh("stat -c '%a %u %h' /tmp/.db.user.*.0832"), "644 0 1\n644 0 1\n600 0 1\n600 0 1\n644 0 1\n");
}

TEST_F(CacheTrust, HashFileOthersCanReadIsReplaced)
{
    ASSERT_EQ(run({"open", "user"}), (Lines{"open user ok"}));
    sh("chmod 0644 /tmp/.db.user.shadow.0832");
    const std::string before = sh("stat -c %i /tmp/.db.user.shadow.0832");
    EXPECT_EQ(run({"open", "user"}), (Lines{"open user ok"}));
    EXPECT_NE(sh("stat -c %i /tmp/.db.user.shadow.0832"), before);
    EXPECT_EQ(sh("stat -c %a /tmp/.db.user.shadow.0832"), "600\n");
}

}  // namespace
