// The appliance root of the user-database tests: account files, settings,
// the event-log stub, and a probe that runs the user functions inside.
#ifndef VEXA_TEST_USER_FIXTURE_H
#define VEXA_TEST_USER_FIXTURE_H

#include <crypt.h>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "approot.h"
#include "root_probe.h"
#include "samba_oracle.h"
#include "test_tmp.h"

namespace usertest {

using Lines = std::vector<std::string>;

inline std::string md5(const char *password, const char *salt)
{
    return crypt(password, (std::string("$1$") + salt + "$").c_str());
}

struct Accounts {
    std::string passwd;
    std::string shadow;
    std::string vexauser;
    std::string smbpasswd;
};

// root, admin (1024), guest (1025), Anna (1026, gecos with ":" and ";"),
// nomisc (1028, no vexauser.conf or smbpasswd line, locked) and gone (1500).
inline Accounts baseAccounts()
{
    Accounts a;
    a.passwd =
        "root:x:0:0:root:/root:/bin/ash\n"
        "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
        "guest:x:1025:100:Guest:/nonexist:/bin/false\n"
        "Anna:x:1026:100:Anna;,B;;:/var/services/homes/Anna:/bin/sh\n"
        "nomisc:x:1028:100::/var/services/homes/nomisc:/bin/sh\n"
        "gone:x:1500:100::/var/services/homes/gone:/bin/sh\n";
    a.shadow = "root:" + md5("r00t", "rt") + ":19000:0:99999:7:::\n" + "admin:" + md5("adm", "ad") +
               ":19000:0:99999:7:::\n" + "guest:*:19000:0:99999:7:::\n" + "Anna:" + md5("old", "ab") +
               ":19000:0:99999:7::20000:\n" + "nomisc:!:19000:0:99999:7:::\n" + "gone:" + md5("g", "gg") +
               ":19000:0:99999:7:::\n";
    a.vexauser =
        "#$_@UID__INDEX@_$1030$\n"
        "# record user misc, format \"user_name:user_privilege:user_mail\"\n"
        "admin:0:admin@x\n"
        "guest:1:\n"
        "Anna:7:anna@x\n"
        "gone:0:\n";
    a.smbpasswd =
        "admin:1024:0123456789ABCDEF0123456789ABCDEF:FEDCBA9876543210FEDCBA9876543210:[U          ]:LCT-5F000000:\n"
        "guest:1025:NO PASSWORDXXXXXXXXXXXXXXXXXXXXX:NO PASSWORDXXXXXXXXXXXXXXXXXXXXX:[U          ]:LCT-5F000000:\n"
        "Anna:1026:11111111111111111111111111111111:22222222222222222222222222222222:[U          ]:LCT-5F000000:\n"
        "gone:1500:33333333333333333333333333333333:44444444444444444444444444444444:[U          ]:LCT-5F000000:\n";
    return a;
}

class UserRoot : public ::testing::Test {
protected:
    approot::Appliance app{"user"};
    // The volume: a folder of its own bound at "/volume1", as on the
    // appliance, where home folders move within one file system.
    std::unique_ptr<vexatest::TempDir> volume;

    // A fixture set up again within one test keeps its bound folder, emptied.
    void bindVolume()
    {
        if (volume != nullptr) {
            for (const auto &e : std::filesystem::directory_iterator(volume->path()))
                std::filesystem::remove_all(e.path());
            return;
        }
        volume = std::make_unique<vexatest::TempDir>("volume");
        app.bind(volume->path(), "/volume1");
    }
    // A folder on the volume (and those above it), then its mode.
    void volumeDir(const std::string &path, int mode = 0755)
    {
        ASSERT_EQ(system(("mkdir -p " + vexatest::shellQuote(*volume / path)).c_str()), 0);
        ASSERT_EQ(chmod((*volume / path).c_str(), static_cast<mode_t>(mode)), 0);
    }

    void writeAccounts(const Accounts &a)
    {
        app.writeFile("/etc/passwd", a.passwd, 0644);
        app.writeFile("/etc/shadow", a.shadow, 0600);
        app.writeFile("/etc/vexauser.conf", a.vexauser, 0640);
        app.writeFile("/usr/vexa/etc/private/smbpasswd", a.smbpasswd, 0600);
    }
    void SetUp() override
    {
        writeAccounts(baseAccounts());
        app.writeFile("/etc/vexainfo.conf", "codepage=\"utf8\"\nrunsamba=\"yes\"\n");
        app.writeFile("/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = user\n\tworkgroup = WG\n");
        app.writeFile("/usr/vexa/bin/vexalogset1", "#!/bin/sh\necho \"$*\" >> /var/log/vexalogset1.args\n", 0755);
        app.mkdir("/tmp", 01777);
    }
    // samba reads every smb.conf a test wrote
    void TearDown() override { vexatest::samba::expectSmbConfReadable(app); }
    void domainMode()
    {
        app.writeFile("/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = domain\n\tworkgroup = DOM\n");
    }
    Lines run(const Lines &ops) { return vexatest::probe::run(app, ops); }
    // Runs the probe under umask 0.
    Lines runUmask0(const Lines &ops) { return runWithUmask("0", ops); }
    Lines runWithUmask(const std::string &mask, const Lines &ops)
    {
        std::string cmd = "umask " + mask + "; exec " + vexatest::probe::command();
        for (const std::string &op : ops)
            cmd += " " + vexatest::shellQuote(op);
        const approot::RunResult r = app.run({"/bin/sh", "-c", cmd});
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        return vexatest::probe::said(r.out);
    }
    std::string sh(const std::string &cmd)
    {
        const approot::RunResult r = app.run({"/bin/sh", "-c", cmd});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
};

}  // namespace usertest

#endif
