// Accounts, groups and memberships kept whole through every change: domain
// lists beside local records, dumps with a shadow line missing, locked
// hashes, renames through refused groups and in chains, and the home
// folders on a volume that another user can write.  Where the fixture is
// sound, shadow's pwck and grpck read copies of what was written.
#include <gtest/gtest.h>

#include <crypt.h>

#include <cstdlib>
#include <cstring>

#include <string>
#include <vector>

#include "../user/user_fixture.h"

namespace {

using usertest::Lines;

const std::string kNobodyPasswd = "nobody:x:65534:100::/nonexist:/bin/false\n";
const std::string kNobodyShadow = "nobody:*:19000:0:99999:7:::\n";

std::string groups(const std::string &extra = "")
{
    return "#$_@GID__INDEX@_$65536$\n"
           "root:x:0:\n"
           "users:x:100:admin,Anna\n"
           "staff:x:65536:nobody,Anna,nobody\n" +
           extra;
}

const char kSmbConf[] =
    "[global]\n"
    "\tsecurity = user\n"
    "\tworkgroup = WG\n"
    "[docs]\n"
    "\tpath = /volume1/docs\n"
    "\twrite list = nobody,Anna,nobody\n"
    "[homes]\n"
    "\tpath = /volume1/homes\n";

// The account files as the fixture writes them, with nobody for the
// members grpck looks up.
usertest::Accounts accounts()
{
    usertest::Accounts a = usertest::baseAccounts();
    a.passwd += kNobodyPasswd;
    a.shadow += kNobodyShadow;
    return a;
}

std::string replaced(std::string s, const std::string &from, const std::string &to)
{
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

class Whole : public usertest::UserRoot {
protected:
    void SetUp() override
    {
        UserRoot::SetUp();
        bindVolume();
        volumeDir("homes/Anna");
        writeAccounts(accounts());
        app.writeFile("/etc/group", groups(), 0644);
        app.writeFile("/etc/group_desc", "staff:the staff\n", 0644);
        app.writeFile("/usr/vexa/etc/smb.conf", kSmbConf, 0644);
        app.writeFile("/etc.defaults/vexainfo.conf", "support_download=\"no\"\n");
    }
    void domain(std::string conf = kSmbConf)
    {
        conf.replace(conf.find("security = user"), strlen("security = user"), "security = domain");
        app.writeFile("/usr/vexa/etc/smb.conf", conf, 0644);
    }
    bool logged(const std::string &text)
    {
        for (const std::string &l : app.syslog())
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }
    // shadow's checks on copies: pwck finds nothing, grpck only the gid
    // header line ("" when both pass so).
    std::string oracles()
    {
        const std::string out = sh(
            "d=$(mktemp -d) && cp /etc/passwd /etc/shadow /etc/group \"$d\" && "
            "{ pwck -r -q \"$d/passwd\" \"$d/shadow\"; echo \"pwck $?\"; grpck -r \"$d/group\"; echo \"grpck $?\"; } "
            "2>&1; rm -r \"$d\"");
        const std::string want = "pwck 0\ninvalid group file entry\ndelete line '#$_@GID__INDEX@_$65536$'? No\n"
                                 "grpck: no changes\ngrpck 2\n";
        return out == want ? "" : out;
    }
    std::string stat(const std::string &path) { return sh("stat -c '%F %a %u %g' " + vexatest::shellQuote(path)); }
};

TEST_F(Whole, DomainListsNeverReplaceLocalRecords)
{
    domain();
    app.writeFile("/usr/vexa/etc/private/domain_user", "admin:1\n#vexa@deprecated:2\nDOM\\a:b:S-1\nDOM\\bob:S-1\n");
    app.writeFile("/usr/vexa/etc/private/domain_group", "staff:S-1\nDOM\\admins:S-1\n");
    EXPECT_EQ(run({"user", "-", "newbie", "pw", "user", "Anna", "Anne", "$1$ab$x", "go", "get", "DOM\\bob"}),
              (Lines{"go 0", "newbie 1031 100 home kept", "Anne 1026 100 home kept", "get DOM\\bob -1"}))
        << app.syslog().back();
    usertest::Accounts a = accounts();
    EXPECT_EQ(app.readFile("/etc/passwd"),
              replaced(replaced(a.passwd, "Anna:x:1026:100:Anna;,B;;:/var/services/homes/Anna:/bin/sh\n",
                                "Anne:x:1026:100::/var/services/homes/Anne:/bin/sh\n"),
                       "\ngone:", "\nnewbie:x:1031:100::/caller/home:/bin/sh\ngone:"));
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$65536$\nroot:x:0:\nusers:x:100:admin,Anne\n"
                                          "staff:x:65536:nobody,Anne,nobody\n");
    EXPECT_EQ(app.readFile("/etc/group_desc"), "staff:the staff\n");
    EXPECT_EQ(app.readFile("/etc/vexauser.conf"),
              "#$_@UID__INDEX@_$1031$\n# record user misc, format \"user_name:user_privilege:user_mail\"\n"
              "admin:0:admin@x\nguest:1:\nAnne:0:\nnewbie:0:\ngone:0:\n");
    EXPECT_EQ(oracles(), "");
    EXPECT_TRUE(logged("domain_user line 1: user admin already stored, skipped"));
    EXPECT_TRUE(logged("domain_user line 2: unusable user name, skipped"));
    EXPECT_TRUE(logged("domain_user line 3: unusable user name, skipped"));
    EXPECT_TRUE(logged("domain_group line 1: group staff already stored, skipped"));
}

TEST_F(Whole, AUserWithoutShadowLineKeepsNoChangeOut)
{
    usertest::Accounts a = accounts();
    a.passwd += "svc:x:200:100::/h:/bin/sh\n";
    writeAccounts(a);
    EXPECT_EQ(run({"user", "-", "newbie", "pw", "go"}), (Lines{"go 0", "newbie 1031 100 home kept"}));
    // uid order: svc after root, newbie before gone
    const std::string base = accounts().passwd;
    const size_t admin = base.find("admin:");
    const size_t gone = base.find("gone:");
    EXPECT_EQ(app.readFile("/etc/passwd"), base.substr(0, admin) + "svc:x:200:100::/h:/bin/sh\n" +
                                               base.substr(admin, gone - admin) +
                                               "newbie:x:1031:100::/caller/home:/bin/sh\n" + base.substr(gone));
    const std::string shadow = app.readFile("/etc/shadow");
    EXPECT_EQ(shadow.find("svc:"), std::string::npos) << shadow;
    EXPECT_NE(shadow.find("\nnewbie:$1$"), std::string::npos) << shadow;
    EXPECT_TRUE(logged("VEXABDbGet(pUserDb->pPWDShadow) [SVC] failed. vexaerr=0x2000"));
}

TEST_F(Whole, LockedHashIsNoSalt)
{
    usertest::Accounts a = accounts();
    a.passwd += "locked:x:1600:100::/h:/bin/sh\n";
    a.shadow += "locked:!" + usertest::md5("old", "ab") + ":19000:0:99999:7:::\n";
    writeAccounts(a);
    EXPECT_EQ(run({"user", "locked", "locked", "n3w", "go"}), (Lines{"go 0", "locked 1600 100 home kept"}));
    const std::string shadow = app.readFile("/etc/shadow");
    const size_t at = shadow.find("\nlocked:");
    ASSERT_NE(at, std::string::npos) << shadow;
    const std::string hash = shadow.substr(at + 8, shadow.find(':', at + 8) - at - 8);
    ASSERT_EQ(hash.rfind("$1$", 0), 0u) << hash;
    EXPECT_EQ(std::string(crypt("n3w", hash.c_str())), hash);
    EXPECT_EQ(oracles(), "");
}

TEST_F(Whole, EmptyNamesAreMissesNotFailures)
{
    const std::string lm(32, 'A');
    const std::string nt(32, 'B');
    const std::string hash = usertest::md5("n3w", "zz");
    EXPECT_EQ(run({"passwd2", "Anna", "", hash, lm, nt, "passwd2", "", "Anna", hash, lm, nt, "get", ""}),
              (Lines{"passwd2 0", "passwd2 0", "get -1 0x1D00"}));
    const std::string shadow = app.readFile("/etc/shadow");
    EXPECT_NE(shadow.find("\nAnna:" + hash + ":19000:0:99999:7::20000:\n"), std::string::npos) << shadow;
    EXPECT_NE(app.readFile("/usr/vexa/etc/private/smbpasswd").find("Anna:1026:" + lm + ":" + nt + ":"),
              std::string::npos);
    EXPECT_EQ(oracles(), "");
}

TEST_F(Whole, FailedHashStoreReachesNoLaterDump)
{
    const std::string oldShadow = app.readFile("/etc/shadow");
    run({"get", "Anna"});
    const Lines out = run({"failput", ".smb.0832", "passwd2", "Anna", "gone", usertest::md5("n3w", "zz"),
                           std::string(32, 'A'), std::string(32, 'B')});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].rfind("passwd2 -1 ", 0), 0u) << out[0];
    EXPECT_EQ(app.readFile("/etc/shadow"), oldShadow);
    EXPECT_EQ(run({"user", "-", "newbie", "pw", "go"}), (Lines{"go 0", "newbie 1031 100 home kept"}));
    const std::string shadow = app.readFile("/etc/shadow");
    EXPECT_NE(shadow.find("\nAnna:" + usertest::md5("old", "ab") + ":19000:0:99999:7::20000:\n"), std::string::npos)
        << shadow;
    EXPECT_EQ(app.readFile("/usr/vexa/etc/private/smbpasswd").find(std::string(32, 'A')), std::string::npos);
}

TEST_F(Whole, UnreadableChrootListFailsOnlyRenames)
{
    app.mkdir("/usr/vexa/etc/ftpchroot.conf", 0755);
    EXPECT_EQ(run({"user", "-", "newbie", "pw", "go"}), (Lines{"go 0", "newbie 1031 100 home kept"}));
    const Lines out = run({"user", "Anna", "Bea", "x", "go"});
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].rfind("go -1 ", 0), 0u) << out[0];
    EXPECT_EQ(stat("/usr/vexa/etc/ftpchroot.conf"), "directory 755 0 0\n");
    EXPECT_EQ(sh("ls -A /usr/vexa/etc/ftpchroot.conf"), "");
}

TEST_F(Whole, ChainedRenameRefused)
{
    app.writeFile("/usr/vexa/etc/ftpchroot.conf", "Anna\n", 0644);
    EXPECT_EQ(run({"user", "Anna", "Bea", "x", "user", "bea", "Cleo", "x", "go", "get", "Cleo"}),
              (Lines{"go 0", "Bea 1026 100 home kept", "Cleo -1 -1 home kept", "get -1 0x1D00"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/ftpchroot.conf"), "Bea\n");
    EXPECT_EQ(app.readFile("/etc/group"), replaced(groups(), "Anna", "Bea"));
    EXPECT_NE(app.readFile("/usr/vexa/etc/smb.conf").find("\twrite list=nobody,Bea,nobody\n"), std::string::npos);
    EXPECT_TRUE(app.exists("/volume1/homes/Bea"));
    EXPECT_TRUE(logged("Duplicated key:[BEA]"));
    EXPECT_EQ(oracles(), "");
}

TEST_F(Whole, RenameReachesSystemAndLongNamedGroups)
{
    const std::string longName = "sixteen_chars_xx";
    app.writeFile("/etc/group",
                  groups(longName + ":x:70002:nobody,Anna,nobody\nzeta:x:70003:nobody,admin,Anna,nobody\n"), 0644);
    EXPECT_EQ(run({"user", "Anna", "Anne", "x", "go"}), (Lines{"go 0", "Anne 1026 100 home kept"}));
    const std::string want =
        replaced(groups(longName + ":x:70002:nobody,Anna,nobody\nzeta:x:70003:nobody,admin,Anna,nobody\n"), "Anna",
                 "Anne");
    EXPECT_EQ(app.readFile("/etc/group"), want);
    // a rebuild from the files keeps her everywhere
    sh("touch -d 2001-01-01 /etc/group");
    EXPECT_EQ(run({"members", "users", "members", longName, "members", "staff", "members", "zeta"}),
              (Lines{"members 0 admin,Anne,gone,guest,nobody,nomisc", "members 0 Anne", "members 0 Anne",
                     "members 0 admin,Anne"}));
    EXPECT_EQ(app.readFile("/etc/group"), want);
    EXPECT_EQ(oracles(), "");
}

TEST_F(Whole, GroupLinesOfOneKeyRefuseBuildAndRename)
{
    for (const std::string &extra : {std::string("Staff:x:70004:nobody,admin,nobody\n"),
                                     std::string("staff:x:70004:nobody,admin,nobody\n")}) {
        app.writeFile("/etc/group", groups(extra), 0644);
        usertest::Accounts a = accounts();
        writeAccounts(a);
        EXPECT_EQ(run({"user", "Anna", "Anne", "x", "go"}), (Lines{"go -1 0x0900", "Anne -1 -1 home kept"})) << extra;
        EXPECT_EQ(app.readFile("/etc/group"), groups(extra));
        EXPECT_EQ(app.readFile("/etc/passwd"), a.passwd);
        EXPECT_EQ(app.readFile("/etc/shadow"), a.shadow);
        EXPECT_EQ(app.readFile("/etc/vexauser.conf"), a.vexauser);
        EXPECT_EQ(app.readFile("/usr/vexa/etc/private/smbpasswd"), a.smbpasswd);
        EXPECT_EQ(app.readFile("/etc/group_desc"), "staff:the staff\n");
        EXPECT_TRUE(app.exists("/volume1/homes/Anna"));
        EXPECT_TRUE(logged("/etc/group line 5: group " + extra.substr(0, 5) + " has the key of group staff")) << extra;
    }
}

TEST_F(Whole, DomainMemberWithColonStopsNoWalk)
{
    domain();
    app.writeFile("/etc/group", "#$_@GID__INDEX@_$65536$\nroot:x:0:\nusers:x:100:admin,DOM\\eve:x\n"
                                "staff:x:65536:nobody,Anna,nobody\n",
                  0644);
    EXPECT_EQ(run({"user", "Anna", "Anne", "x", "go"}), (Lines{"go 0", "Anne 1026 100 home kept"}));
    EXPECT_EQ(app.readFile("/etc/group"),
              "#$_@GID__INDEX@_$65536$\nroot:x:0:\nusers:x:100:admin\nstaff:x:65536:nobody,Anne,nobody\n");
    EXPECT_EQ(oracles(), "");
}

TEST_F(Whole, ListItemsTrimmed)
{
    std::string conf = kSmbConf;
    conf.replace(conf.find("nobody,Anna,nobody"), strlen("nobody,Anna,nobody"), "admin, DOM\\eve ,\tAnna");
    domain(conf);
    EXPECT_EQ(run({"modify", "ANNA", "Anne"}), (Lines{"smbconf 0", "group 0", "null -1 0x0D00"}));
    const std::string written = app.readFile("/usr/vexa/etc/smb.conf");
    EXPECT_NE(written.find("\twrite list=nobody,admin,DOM\\eve,Anne,nobody\n"), std::string::npos) << written;
}

TEST_F(Whole, DotNamesAreNoUsers)
{
    const std::string volume = stat("/volume1");
    const std::string homes = stat("/volume1/homes");
    EXPECT_EQ(run({"user", "-", ".", "pw", "go", "user", "-", "..", "pw", "go", "user", "Anna", "..", "pw", "go"}),
              (Lines{"go -1 0x1A00", ". 1031 100 home kept", "go -1 0x1A00", ".. 1031 100 home kept", "go -1 0x1A00",
                     ".. 1026 100 home kept"}));
    EXPECT_EQ(stat("/volume1"), volume);
    EXPECT_EQ(stat("/volume1/homes"), homes);
    EXPECT_EQ(app.readFile("/etc/passwd"), accounts().passwd);
}

}  // namespace
