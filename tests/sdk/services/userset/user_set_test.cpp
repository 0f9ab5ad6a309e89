// Batches of user changes inside the appliance root: the account files,
// the rename carried into groups, shares, the FTP chroot list and the home
// folders, the reserved names' rsync accounts, the AFP guest module, the
// scheduler signal, stored hashes and failures half-way.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../user/user_fixture.h"
#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"
#include "scheduler_standin.h"
#include "services/user/vexa_user_query.h"
#include "services/user/vexa_user_set.h"

namespace {

using usertest::Lines;
using vexatest::probe::hex;
using vexatest::probe::say;

std::string result(const char *op, int r)
{
    return std::string(op) + " " + std::to_string(r) + (r < 0 ? " " + hex(VRALErrGet()) : "");
}

const char *orNull(const std::string &s)
{
    return s == "-" ? nullptr : s.c_str();
}

int probe(std::vector<std::string> ops)
{
    size_t i = 0;
    auto next = [&]() { return i < ops.size() ? ops[i++] : std::string(); };
    std::unique_ptr<vexatest::SchedulerStandIn> sched;
    std::vector<std::string> olds;  // "-" for a new user
    std::vector<VEXAUSER *> users;
    std::vector<char *> homes;      // the callers' own home pointers
    while (i < ops.size()) {
        const std::string op = next();
        if (op == "sched") {
            sched = std::make_unique<vexatest::SchedulerStandIn>();
        } else if (op == "user") {
            // user OLD|- NAME PASSWORD|-: uid and gid -1
            olds.push_back(next());
            const std::string name = next();
            const std::string pw = next();
            VEXAUSER *u = nullptr;
            if (VEXAUserAlloc(&u, name.c_str(), orNull(pw), -1, -1, "", "/caller/home", "/bin/sh", 0, nullptr, 0) != 0)
                return 90;
            users.push_back(u);
            homes.push_back(u->szHome);
        } else if (op == "go") {
            std::vector<const char *> o;
            for (const std::string &s : olds)
                o.push_back(orNull(s));
            const int r = VEXAUserSetMulti(o.data(), users.data(), static_cast<int>(users.size()));
            say(result("go", r));
            for (size_t k = 0; k < users.size(); ++k) {
                say(std::string(users[k]->szName) + " " + std::to_string(users[k]->uid) + " " +
                    std::to_string(users[k]->gid) + (users[k]->szHome == homes[k] ? " home kept" : " home moved"));
                VEXAUserFree(users[k]);
            }
            olds.clear();
            users.clear();
            homes.clear();
        } else if (op == "get") {
            VEXAUSER *u = nullptr;
            const int r = VEXAUserGet(next().c_str(), &u);
            say(r == 0 ? "get " + std::string(u->szName) + " " + std::to_string(u->uid) : result("get", r));
            VEXAUserFree(u);
        } else if (op == "passwd") {
            const std::string name = next();
            const std::string hash = next();
            const std::string lm = next();
            const std::string nt = next();
            VEXAUSER *u = nullptr;
            VEXAUserAlloc(&u, name.c_str(), "", 0, 0, "", "", "", 0, "", 0);
            const char *h = hash.c_str(), *l = lm.c_str(), *t = nt.c_str();
            say(result("passwd", VEXAUserSetPasswd(&u, &h, &l, &t, 1)));
            VEXAUserFree(u);
        } else if (op == "smmsp") {
            const std::string a = next();
            const std::string b = next();
            say(result("smmsp", VEXASmmspGroupSet(orNull(a), orNull(b), atoi(next().c_str()))));
        } else if (op == "signals") {
            std::string s = "signals:";
            for (const std::string &sig : sched->stop())
                s += " " + sig;
            say(s);
        } else if (op == "trylock") {
            say(result("trylock", VRALFileLock(LOCK_ID_PW | LOCK_ID_GR | LOCK_ID_SMB | LOCK_EX | LOCK_NB, 0)));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

const char kGroups[] =
    "#$_@GID__INDEX@_$65536$\n"
    "root:x:0:\n"
    "smmsp:x:25:\n"
    "users:x:100:\n"
    "staff:x:65536:nobody,Anna,admin,nobody\n";

const char kSmbConf[] =
    "[global]\n"
    "\tsecurity = user\n"
    "\tworkgroup = WG\n"
    "[docs]\n"
    "\tpath = /volume1/docs\n"
    "\tread list = nomisc\n"
    "\twrite list = nobody,Anna,@staff,nobody\n"
    "\tinvalid users = \n"
    "\tguest ok = no\n"
    "\twriteable = no\n"
    "\tbrowseable = yes\n"
    "[homes]\n"
    "\tpath = /volume1/homes\n"
    "\tguest ok = no\n"
    "\twriteable = yes\n"
    "\tbrowseable = no\n";

const char kAfpd[] = "- -transall -uamlist uams_noguest.so,uams_dhx.so -nosavepassword\n# uams_noguest.so\n";

class UserSet : public usertest::UserRoot {
protected:
    void SetUp() override
    {
        UserRoot::SetUp();
        app.writeFile("/etc/group", kGroups, 0644);
        app.writeFile("/etc/group_desc", "", 0644);
        app.writeFile("/usr/vexa/etc/smb.conf", kSmbConf, 0644);
        app.writeFile("/usr/vexa/etc/afpd.conf", kAfpd, 0644);
        app.writeFile("/usr/vexa/etc/ftpchroot.conf", "Anna\nzed\n", 0644);
        app.mkdir("/volume1/homes", 0755);
        app.mkdir("/volume1/homes/nomisc", 0755);
        app.mkdir("/volume1/homes/Anna", 0755);
        app.writeFile("/etc/rsyncd.conf", "auth users = root\nsecrets file = /etc/rsyncd.secrets\n", 0644);
        app.writeFile("/etc/rsyncd.secrets", "root:stored|c2VjcmV0\n", 0640);
        app.writeFile("/usr/vexa/etc/rc.d/S84rsyncd.sh", "#!/bin/sh\necho \"$1\" >> /var/log/rsyncd.calls\n", 0755);
        download("yes");
    }
    void download(const char *value)
    {
        app.writeFile("/etc.defaults/vexainfo.conf",
                      std::string("guestsupport=\"yes\"\nsupport_download=\"") + value + "\"\n");
    }
    std::string stat(const std::string &path) { return sh("stat -c '%a %u %g' " + path); }
};

TEST_F(UserSet, NewUserRenameAndCaseOnlyRenameInOneBatch)
{
    const Lines out = run({"sched", "user", "-", "newbie", "pw", "user", "nomisc", "nomad", "!", "user", "Anna",
                           "ANNA", "$1$ab$x", "go", "get", "nomisc", "get", "nomad", "signals"});
    EXPECT_EQ(out, (Lines{"go 0", "newbie 1031 100 home kept", "nomad 1028 100 home kept",
                          "ANNA 1026 100 home kept", "get -1 0x1D00", "get nomad 1028", "signals: USR1"}));
    const std::string passwd = app.readFile("/etc/passwd");
    EXPECT_NE(passwd.find("newbie:x:1031:100::/caller/home:/bin/sh\n"), std::string::npos) << passwd;
    EXPECT_NE(passwd.find("nomad:x:1028:100::/var/services/homes/nomad:/bin/sh\n"), std::string::npos) << passwd;
    EXPECT_NE(passwd.find("ANNA:x:1026:100::/var/services/homes/ANNA:/bin/sh\n"), std::string::npos)
        << passwd;
    EXPECT_EQ(passwd.find("nomisc"), std::string::npos);
    EXPECT_NE(app.readFile("/etc/vexauser.conf").find("#$_@UID__INDEX@_$1031$\n"), std::string::npos);
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$65536$\nroot:x:0:\nsmmsp:x:25:\nusers:x:100:\n"
                                          "staff:x:65536:nobody,ANNA,admin,nobody\n");
    const std::string smb = app.readFile("/usr/vexa/etc/smb.conf");
    EXPECT_NE(smb.find("\tread list=nobody,nomad,nobody\n"), std::string::npos) << smb;
    EXPECT_NE(smb.find("\twrite list=nobody,ANNA,@staff,nobody\n"), std::string::npos) << smb;
    EXPECT_EQ(smb.find("Anna"), std::string::npos) << smb;
    EXPECT_EQ(app.readFile("/usr/vexa/etc/ftpchroot.conf"), "zed\nANNA\n");
    EXPECT_EQ(stat("/volume1/homes/newbie"), "755 1031 100\n");
    EXPECT_TRUE(app.exists("/volume1/homes/nomad"));
    EXPECT_FALSE(app.exists("/volume1/homes/nomisc"));
    EXPECT_TRUE(app.exists("/volume1/homes/ANNA"));
    EXPECT_FALSE(app.exists("/volume1/homes/Anna"));
    // no reserved name: the rsync files and the service stay
    EXPECT_FALSE(app.exists("/var/log/rsyncd.calls"));
}

TEST_F(UserSet, SchedulerSignalledOnlyWithDownloadSupport)
{
    download("no");
    EXPECT_EQ(run({"sched", "user", "-", "newbie", "pw", "go", "signals"}),
              (Lines{"go 0", "newbie 1031 100 home kept", "signals:"}));
}

TEST_F(UserSet, UpdateKeepingTheNameLeavesGroupsAndSharesAlone)
{
    const std::string group = app.readFile("/etc/group");
    EXPECT_EQ(run({"user", "Anna", "Anna", "new", "go"}), (Lines{"go 0", "Anna 1026 100 home kept"}));
    EXPECT_EQ(app.readFile("/etc/group"), group);
    EXPECT_EQ(app.readFile("/usr/vexa/etc/smb.conf"), kSmbConf);
    EXPECT_EQ(app.readFile("/usr/vexa/etc/ftpchroot.conf"), "Anna\nzed\n");
    for (const approot::Change &c : app.changes())
        EXPECT_TRUE(c.path != "/etc/group" && c.path != "/usr/vexa/etc/smb.conf") << c.path;
}

TEST_F(UserSet, FailedEntriesAndTheirCodes)
{
    // an existing name, a rename onto another user, the same user twice
    EXPECT_EQ(run({"user", "-", "admin", "x", "go", "user", "Anna", "gone", "x", "go", "user", "gone", "g2", "x",
                   "user", "gone", "g3", "x", "go", "get", "g2", "get", "g3"}),
              (Lines{"go -1 0x1C00", "admin -1 -1 home kept", "go -1 0x1C00", "gone -1 -1 home kept", "go 0",
                     "g2 1500 100 home kept", "g3 -1 -1 home kept", "get g2 1500", "get -1 0x1D00"}));
    EXPECT_NE(app.syslog().size(), 0u);
    bool duplicate = false;
    for (const std::string &l : app.syslog())
        duplicate = duplicate || l.find("Duplicated key:[GONE]") != std::string::npos;
    EXPECT_TRUE(duplicate);
}

TEST_F(UserSet, DumpThatFailsLeavesEverythingAsItWas)
{
    // a folder where the temporary passwd file goes: it cannot be made
    app.mkdir("/etc/passwd.tmp", 0755);
    run({"get", "Anna"});
    const std::vector<approot::Change> before = app.changes();
    const Lines out = run({"user", "Anna", "Bert", "x", "user", "-", "newbie", "pw", "go", "get", "Anna", "get",
                           "Bert", "trylock"});
    EXPECT_EQ(out, (Lines{"go -1 0x0900", "Bert 1026 100 home kept", "newbie 1031 100 home kept",
                          "get Anna 1026", "get -1 0x1D00", "trylock 0"}))
        << out[0];
    for (const approot::Change &c : app.changes())
        EXPECT_TRUE(c.path.rfind("/tmp/", 0) == 0) << c.kind << " " << c.path;
    EXPECT_TRUE(app.exists("/volume1/homes/Anna"));
    EXPECT_FALSE(app.exists("/volume1/homes/newbie"));
    (void)before;
}

}  // namespace
