// Batches of user changes inside the appliance root: the account files,
// the rename carried into groups, shares, the FTP chroot list and the home
// folders, the reserved names' rsync accounts, the AFP guest module, the
// scheduler signal, stored hashes and failures half-way.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../user/user_fixture.h"
#include "base/err/vral_err.h"
#include "base/list/vral_list.h"
#include "base/lock/vral_lock.h"
#include "failcall.h"
#include "services/ftp/vexa_ftp.h"
#include "services/netbkp/vexa_netbkp.h"
#include "failput.h"
#include "scheduler_standin.h"
#include "rsync_oracle.h"
#include "scrambler_reference.h"
#include "services/user/vexa_user_query.h"
#include "services/user/vexa_user_set.h"

namespace {

using usertest::Lines;
using vexatest::probe::orNull;
using vexatest::probe::result;
using vexatest::probe::say;

int probe(vexatest::probe::Ops next)
{
    std::unique_ptr<vexatest::SchedulerStandIn> sched;
    std::unique_ptr<failcall::Armed> armed;
    std::vector<std::string> olds;  // "-" for a new user
    std::vector<VEXAUSER *> users;
    std::vector<char *> homes;      // the callers' own home pointers
    while (next.more()) {
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
        } else if (op == "modify") {
            // modify KEY VALUE: a map of one rename, to the shares then the groups
            VRALSzHash *map = VRALSzHashAlloc(512);
            const std::string k = next();
            VRALSzHashSetValue(&map, k.c_str(), next().c_str());
            VRALFileLock(LOCK_ID_GR | LOCK_ID_SMB | LOCK_EX | LOCK_NB, 5);
            say(result("smbconf", VEXAUserModifySmbConf(map)));
            say(result("group", VEXAUserModifyGroup(map)));
            VRALFileUnlock(LOCK_ID_GR | LOCK_ID_SMB);
            VRALSzHashFree(map);
            say(result("null", VEXAUserModifyGroup(nullptr)));
        } else if (op == "failchroot") {
            armed = std::make_unique<failcall::Armed>(failcall::Rule{
                .call = failcall::Call::Fsync, .pathPrefix = FTP_CHROOT_CONF ".", .err = EIO, .nth = 1, .times = 1});
        } else if (op == "cryptform") {
            char out[769] = {};
            VEXANetBkpCryptPass(next().c_str(), out, sizeof out);
            say(std::string("cryptform ") + out);
        } else if (op == "holdpw") {
            say(result("holdpw", VRALFileLock(LOCK_ID_PW | LOCK_EX | LOCK_NB, 0)));
        } else if (op == "otherlock") {
            // another process, with descriptors of its own, tries every
            // lock file of the batch at once
            std::string s = "otherlock";
            for (int k = 0; gLockFileTable[k].bit != 0; ++k) {
                if ((gLockFileTable[k].bit & (LOCK_ID_PW | LOCK_ID_GR | LOCK_ID_SMB)) == 0)
                    continue;
                const std::string path = gLockFileTable[k].path;
                const pid_t pid = fork();
                if (pid == 0) {
                    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
                    _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
                }
                int st = 0;
                waitpid(pid, &st, 0);
                s += WIFEXITED(st) && WEXITSTATUS(st) == 0 ? " free" : " held";
            }
            say(s);
        } else if (op == "passwd2") {
            // passwd2 NAME1 NAME2 HASH LM NT: one call for two users
            const std::string n1 = next();
            const std::string n2 = next();
            const std::string hash = next();
            const std::string lm = next();
            const std::string nt = next();
            VEXAUSER *u[2] = {};
            VEXAUserAlloc(&u[0], "x", "", 0, 0, "", "", "", 0, "", 0);
            VEXAUserAlloc(&u[1], "x", "", 0, 0, "", "", "", 0, "", 0);
            u[0]->szName = const_cast<char *>(n1.c_str());
            u[1]->szName = const_cast<char *>(n2.c_str());
            const char *h[2] = {hash.c_str(), hash.c_str()}, *l[2] = {lm.c_str(), lm.c_str()},
                       *t[2] = {nt.c_str(), nt.c_str()};
            say(result("passwd2", VEXAUserSetPasswd(u, h, l, t, 2)));
            VEXAUserFree(u[0]);
            VEXAUserFree(u[1]);
        } else if (op == "failput") {
            // failput SUFFIX: the next store into the cache file so named fails
            usertest::failNextPut(next());
        } else if (op == "members") {
            VRALSzList *l = PslVRALSzListAlloc(512);
            const int r = VEXAGroupListMember(next().c_str(), &l);
            std::string s = result("members", r);
            for (int k = 0; r == 0 && k < l->nItem; ++k)
                s += (k == 0 ? " " : ",") + std::string(VRALSzListItem(l, k));
            say(s);
            VRALSzListFree(l);
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
        bindVolume();
        volumeDir("homes/nomisc");
        volumeDir("homes/Anna");
        app.writeFile("/etc/group", kGroups, 0644);
        app.writeFile("/etc/group_desc", "", 0644);
        app.writeFile("/usr/vexa/etc/smb.conf", kSmbConf, 0644);
        app.writeFile("/usr/vexa/etc/afpd.conf", kAfpd, 0644);
        app.writeFile("/usr/vexa/etc/ftpchroot.conf", "Anna\nzed\n", 0644);
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
    // uid order; the renamed users' homes follow their names
    EXPECT_EQ(app.readFile("/etc/passwd"),
              "root:x:0:0:root:/root:/bin/ash\n"
              "admin:x:1024:100:System default user:/var/services/homes/admin:/bin/sh\n"
              "guest:x:1025:100:Guest:/nonexist:/bin/false\n"
              "ANNA:x:1026:100::/var/services/homes/ANNA:/bin/sh\n"
              "nomad:x:1028:100::/var/services/homes/nomad:/bin/sh\n"
              "newbie:x:1031:100::/caller/home:/bin/sh\n"
              "gone:x:1500:100::/var/services/homes/gone:/bin/sh\n");
    EXPECT_EQ(app.readFile("/etc/vexauser.conf"),
              "#$_@UID__INDEX@_$1031$\n# record user misc, format \"user_name:user_privilege:user_mail\"\n"
              "admin:0:admin@x\nguest:1:\nANNA:0:\nnomad:0:\nnewbie:0:\ngone:0:\n");
    const std::string shadow = app.readFile("/etc/shadow");
    // a new password keeps the stored salt
    EXPECT_NE(shadow.find("\nANNA:" + usertest::md5("$1$ab$x", "ab") + ":"), std::string::npos) << shadow;
    EXPECT_NE(shadow.find("\nnomad:!:"), std::string::npos) << shadow;
    EXPECT_NE(shadow.find("\nnewbie:$1$"), std::string::npos) << shadow;
    EXPECT_EQ(shadow.find("nomisc"), std::string::npos) << shadow;
    const std::string smb = app.readFile("/usr/vexa/etc/private/smbpasswd");
    EXPECT_NE(smb.find("\nnewbie:1031:"), std::string::npos) << smb;
    EXPECT_NE(smb.find("\nANNA:1026:"), std::string::npos) << smb;
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$65536$\nroot:x:0:\nsmmsp:x:25:\nusers:x:100:\n"
                                          "staff:x:65536:nobody,ANNA,admin,nobody\n");
    const std::string conf = app.readFile("/usr/vexa/etc/smb.conf");
    EXPECT_NE(conf.find("\tread list=nobody,nomad,nobody\n"), std::string::npos) << conf;
    EXPECT_NE(conf.find("\twrite list=nobody,ANNA,@staff,nobody\n"), std::string::npos) << conf;
    EXPECT_EQ(conf.find("Anna"), std::string::npos) << conf;
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
                           "Bert", "otherlock", "holdpw", "otherlock"});
    EXPECT_EQ(out, (Lines{"go -1 0x0900", "Bert 1026 100 home kept", "newbie 1031 100 home kept",
                          "get Anna 1026", "get -1 0x1D00", "otherlock free free free",
                          "holdpw 0", "otherlock held free free"}))
        << out[0];
    for (const approot::Change &c : app.changes())
        EXPECT_TRUE(c.path.rfind("/tmp/", 0) == 0) << c.kind << " " << c.path;
    EXPECT_TRUE(app.exists("/volume1/homes/Anna"));
    EXPECT_FALSE(app.exists("/volume1/homes/newbie"));
    (void)before;
}

}  // namespace

namespace {

class UserSetReserved : public UserSet {
protected:
    std::string calls() { return vexatest::probe::readOr(app, "/var/log/rsyncd.calls", ""); }
};

TEST_F(UserSetReserved, NewRsyncUserJoinsSmmspAndGetsAnAccountARenameTakesBothAway)
{
    const Lines out = run({"user", "-", "rsync", "s3cret", "go", "cryptform", "s3cret"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], "go 0");
    const std::string cryptForm = out[2].substr(strlen("cryptform "));
    ASSERT_EQ(cryptForm.size(), 13u);
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$65536$\nroot:x:0:\nsmmsp:x:25:rsync\nusers:x:100:\n"
                                          "staff:x:65536:nobody,Anna,admin,nobody\n");
    EXPECT_EQ(app.readFile("/etc/rsyncd.conf"), "auth users = root,rsync\nsecrets file = /etc/rsyncd.secrets\n");
    const std::string secrets = app.readFile("/etc/rsyncd.secrets");
    const std::string prefix = "root:stored|c2VjcmV0\nrsync:" + cryptForm + "|";
    ASSERT_EQ(secrets.rfind(prefix, 0), 0u) << secrets;
    const std::string b64 = secrets.substr(prefix.size());
    EXPECT_GT(b64.size(), 1u);
    EXPECT_EQ(b64.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\n"),
              std::string::npos)
        << b64;
    EXPECT_EQ(calls(), "stop\nstart\n");

    EXPECT_EQ(run({"user", "rsync", "bob", "s3cret", "go"}), (Lines{"go 0", "bob 1031 100 home kept"}));
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$65536$\nroot:x:0:\nsmmsp:x:25:\nusers:x:100:\n"
                                          "staff:x:65536:nobody,Anna,admin,nobody\n");
    EXPECT_EQ(app.readFile("/etc/rsyncd.conf"), "auth users = root\nsecrets file = /etc/rsyncd.secrets\n");
    EXPECT_EQ(app.readFile("/etc/rsyncd.secrets"), "root:stored|c2VjcmV0\n");
    EXPECT_EQ(calls(), "stop\nstart\nstop\nstart\n");
}

TEST_F(UserSetReserved, AdminPasswordRewritesRootsSecretAndLeavesSmmsp)
{
    const std::string group = app.readFile("/etc/group");
    const Lines out = run({"user", "admin", "admin", "n3w", "go", "cryptform", "n3w"});
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0], "go 0");
    const std::string secrets = app.readFile("/etc/rsyncd.secrets");
    EXPECT_EQ(secrets.rfind("root:" + out[2].substr(strlen("cryptform ")) + "|", 0), 0u) << secrets;
    EXPECT_EQ(secrets.find("admin"), std::string::npos) << secrets;
    EXPECT_EQ(app.readFile("/etc/rsyncd.conf"), "auth users = root\nsecrets file = /etc/rsyncd.secrets\n");
    EXPECT_EQ(app.readFile("/etc/group"), group);
    EXPECT_EQ(calls(), "stop\nstart\n");
}

TEST_F(UserSetReserved, RootHandedBackItsStoredHashKeepsItsSecret)
{
    EXPECT_EQ(run({"user", "root", "root", usertest::md5("r00t", "rt"), "go"}),
              (Lines{"go 0", "root 0 100 home kept"}));
    EXPECT_EQ(app.readFile("/etc/rsyncd.secrets"), "root:stored|c2VjcmV0\n");
}

TEST_F(UserSetReserved, PasswordTooLongForASecretWritesNoAccount)
{
    // a stored value handed back is kept as it is, so only the secret
    // meets its length
    const std::string stored = "$1$ab$" + std::string(763, 'p');
    usertest::Accounts a = usertest::baseAccounts();
    a.passwd += "bob:x:1600:100::/h:/bin/sh\n";
    a.shadow += "bob:" + stored + ":19000:0:99999:7:::\n";
    writeAccounts(a);
    EXPECT_EQ(run({"user", "bob", "rsync", stored, "go"}), (Lines{"go 0", "rsync 1600 100 home kept"}));
    EXPECT_EQ(app.readFile("/etc/rsyncd.secrets"), "root:stored|c2VjcmV0\n");
    EXPECT_EQ(app.readFile("/etc/rsyncd.conf"), "auth users = root\nsecrets file = /etc/rsyncd.secrets\n");
    EXPECT_EQ(calls(), "");
    bool logged = false;
    for (const std::string &l : app.syslog())
        logged = logged || l.find("NetBackupAuthUserSet [bob] failed") != std::string::npos;
    EXPECT_TRUE(logged);
}

// Base64 written plainly: the bytes of a secret's second half.
std::string base64Bytes(const std::string &text)
{
    static const std::string kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int n = 0;
    for (char c : text) {
        if (c == '=')
            break;
        const size_t v = kAlphabet.find(c);
        EXPECT_NE(v, std::string::npos) << text;
        bits = (bits << 6) | static_cast<unsigned>(v);
        n += 6;
        if (n >= 8) {
            n -= 8;
            out += static_cast<char>((bits >> n) & 0xff);
        }
    }
    return out;
}

// The half after "|" holds every scrambled byte of the password, whole
// groups of three, so the scrambler run again gives the password back.
// The first two scramble to a byte 0 that begins a group.
TEST_F(UserSetReserved, SecretHoldsEveryScrambledByte)
{
    const vexatest::scrambler::Tables t = vexatest::scrambler::referenceTables(vexatest::scrambler::kKey12);
    for (const std::string pw : {"Adm1n-NetBkp", "Jip*!A!^t3Ps", "s3cret"}) {
        const Lines out = run({"user", "root", "root", pw, "go", "cryptform", pw});
        ASSERT_EQ(out.size(), 3u) << pw;
        const std::string secrets = app.readFile("/etc/rsyncd.secrets");
        const std::string prefix = "root:" + out[2].substr(strlen("cryptform ")) + "|";
        ASSERT_EQ(secrets.rfind(prefix, 0), 0u) << secrets;
        const std::string b64 = secrets.substr(prefix.size(), secrets.find('\n') - prefix.size());
        const std::string bytes = base64Bytes(b64);
        ASSERT_EQ(bytes.size(), (pw.size() + 2) / 3 * 3) << pw << " " << b64;
        EXPECT_EQ(bytes.substr(pw.size()), std::string(bytes.size() - pw.size(), '\0')) << pw;
        EXPECT_EQ(vexatest::scrambler::referenceScramble(t, bytes.substr(0, pw.size())), pw) << b64;
        bool zeroStartsAGroup = false;
        for (size_t i = 0; i < pw.size(); i += 3)
            zeroStartsAGroup = zeroStartsAGroup || bytes[i] == '\0';
        EXPECT_EQ(zeroStartsAGroup, pw != "s3cret") << pw;
        // rsync's daemon takes the whole secret's text as root's password;
        // the files name no module, so the copy puts theirs under one
        const std::string secret = secrets.substr(strlen("root:"), secrets.find('\n') - strlen("root:"));
        vexatest::RsyncOracle d("[NetBackup]\n\tpath = /volume1/NetBackup\n" + app.readFile("/etc/rsyncd.conf"),
                                secrets, 0640, "/volume1/NetBackup");
        EXPECT_EQ(d.list("NetBackup", "root", secret).status, 0) << pw;
        EXPECT_EQ(d.list("NetBackup", "root", pw).status, 5) << pw;
    }
    // a scrambled password with no such zero keeps the text it had: the
    // encoding of its groups
    EXPECT_EQ(app.readFile("/etc/rsyncd.secrets").substr(app.readFile("/etc/rsyncd.secrets").find('|')),
              "|I3BYaaX4\n");
}

struct KeptHash {
    const char *name;
    const char *user;
    const char *conf;     // nullptr: no file
    const char *secrets;  // nullptr: no file
};

void PrintTo(const KeptHash &c, std::ostream *os)
{
    *os << c.name;
}

class UserSetKeptHash : public UserSetReserved, public ::testing::WithParamInterface<KeptHash> {
protected:
    void SetUp() override
    {
        UserSetReserved::SetUp();
        // the fixture layer's rsync files give way to the case's
        sh("rm -f /etc/rsyncd.conf /etc/rsyncd.secrets");
        if (GetParam().conf != nullptr)
            app.writeFile("/etc/rsyncd.conf", GetParam().conf, 0644);
        if (GetParam().secrets != nullptr)
            app.writeFile("/etc/rsyncd.secrets", GetParam().secrets, 0640);
    }
};

// The stored hash handed back with no stored secret to keep: neither rsync
// file changes and the service is not touched; an empty secret would let
// any password in.
TEST_P(UserSetKeptHash, ChangesNoRsyncFile)
{
    const KeptHash &c = GetParam();
    const bool root = std::string(c.user) == "root";
    const std::string hash = root ? usertest::md5("r00t", "rt") : usertest::md5("adm", "ad");
    EXPECT_EQ(run({"user", c.user, c.user, hash, "go"}),
              (Lines{"go 0", std::string(c.user) + (root ? " 0" : " 1024") + " 100 home kept"}));
    EXPECT_EQ(vexatest::probe::readOr(app, "/etc/rsyncd.conf", "<missing>"), c.conf ? c.conf : "<missing>");
    EXPECT_EQ(vexatest::probe::readOr(app, "/etc/rsyncd.secrets", "<missing>"), c.secrets ? c.secrets : "<missing>");
    EXPECT_EQ(calls(), "");
    bool logged = false;
    for (const std::string &l : app.syslog())
        logged = logged || l.find("VEXANetBackupGetServerPasswd() failed") != std::string::npos;
    EXPECT_TRUE(logged);
}

constexpr char kRsyncConf[] = "auth users = root\nsecrets file = /etc/rsyncd.secrets\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, UserSetKeptHash,
    ::testing::Values(KeptHash{.name = "admin_no_files", .user = "admin", .conf = nullptr, .secrets = nullptr},
                      KeptHash{.name = "root_no_files", .user = "root", .conf = nullptr, .secrets = nullptr},
                      KeptHash{.name = "admin_no_line_of_root", .user = "admin", .conf = kRsyncConf,
                               .secrets = "rsync:x|eA==\n"},
                      KeptHash{.name = "root_stored_empty", .user = "root", .conf = kRsyncConf, .secrets = "root:\n"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(UserSet, GuestPasswordSwitchesTheAfpGuestModule)
{
    EXPECT_EQ(run({"user", "guest", "guest", "", "go"}), (Lines{"go 0", "guest 1025 100 home kept"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/afpd.conf"),
              "- -transall -uamlist uams_guest.so,uams_dhx.so -nosavepassword\n# uams_guest.so\n");
    EXPECT_EQ(run({"user", "guest", "guest", "pw", "go"}), (Lines{"go 0", "guest 1025 100 home kept"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/afpd.conf"), kAfpd);
    EXPECT_FALSE(app.exists("/usr/vexa/etc/afpd.conf.tmp"));
    // without a module list the file stays and the copy goes
    app.writeFile("/usr/vexa/etc/afpd.conf", "uams_noguest.so\n", 0644);
    EXPECT_EQ(run({"user", "guest", "guest", "", "go"}), (Lines{"go 0", "guest 1025 100 home kept"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/afpd.conf"), "uams_noguest.so\n");
    EXPECT_FALSE(app.exists("/usr/vexa/etc/afpd.conf.tmp"));
}

// The switched file is afpd.conf's own: its owner and mode stay whatever
// the caller's umask, and no copy is left beside it.
TEST_F(UserSet, AfpSwitchKeepsTheFilesOwnerAndMode)
{
    sh("chown 0:100 /usr/vexa/etc/afpd.conf && chmod 0640 /usr/vexa/etc/afpd.conf");
    EXPECT_EQ(runWithUmask("077", {"user", "guest", "guest", "", "go"}), (Lines{"go 0", "guest 1025 100 home kept"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/afpd.conf"),
              "- -transall -uamlist uams_guest.so,uams_dhx.so -nosavepassword\n# uams_guest.so\n");
    EXPECT_EQ(stat("/usr/vexa/etc/afpd.conf"), "640 0 100\n");
    EXPECT_EQ(sh("ls -A /usr/vexa/etc | grep afpd"), "afpd.conf\n");
}

TEST_F(UserSet, ChrootRewriteThatFailsLeavesTheList)
{
    EXPECT_EQ(run({"failchroot", "user", "Anna", "Bea", "x", "go"}), (Lines{"go -1 0x0B00", "Bea 1026 100 home kept"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/ftpchroot.conf"), "Anna\nzed\n");
    for (const approot::Change &c : app.changes())
        EXPECT_EQ(c.path.find("ftpchroot"), std::string::npos) << c.kind << " " << c.path;
}

TEST_F(UserSet, ChrootListFindsTheOldNameInAnyCaseAmongAnyNames)
{
    // the list unsorted, names in other letter case and not UTF-8 around
    struct Case {
        const char *name;
        const char *list;
        const char *want;
    };
    const Case cases[] = {
        {.name = "other case, among unsorted names",
         .list = "zed\nbob\nANNA\nadam\n",
         .want = "zed\nbob\nadam\nBea\n"},
        {.name = "among names that are not UTF-8",
         .list = "\xff\xfe\nzed\nanna\n\xc3\nAnn\n",
         .want = "\xff\xfe\nzed\n\xc3\nAnn\nBea\n"},
        {.name = "not listed: nothing rewritten", .list = "zed\n\xff\nAnnabel\n", .want = nullptr},
    };
    for (const Case &c : cases) {
        SetUp();
        app.writeFile("/usr/vexa/etc/ftpchroot.conf", c.list, 0644);
        EXPECT_EQ(run({"user", "Anna", "Bea", "x", "go"}), (Lines{"go 0", "Bea 1026 100 home kept"})) << c.name;
        EXPECT_EQ(app.readFile("/usr/vexa/etc/ftpchroot.conf"), c.want != nullptr ? c.want : c.list) << c.name;
        bool rewritten = false;
        for (const approot::Change &ch : app.changes())
            rewritten = rewritten || ch.path.find("ftpchroot") != std::string::npos;
        EXPECT_EQ(rewritten, c.want != nullptr) << c.name;
    }
}

TEST_F(UserSet, StoredHashesCheckedBeforeEitherRecordIsWritten)
{
    const std::string lm(32, 'A');
    const std::string nt(32, 'B');
    struct Case {
        const char *name;
        std::string user, hash, lm, nt;
        const char *want;
    };
    const Case cases[] = {
        {.name = "colon", .user = "Anna", .hash = "$1$x$y:0", .lm = lm, .nt = nt, .want = "passwd -1 0x0D00"},
        {.name = "line break", .user = "Anna", .hash = "h", .lm = lm + "\n", .nt = nt, .want = "passwd -1 0x0D00"},
        {.name = "carriage return", .user = "Anna", .hash = "h", .lm = lm, .nt = "\r", .want = "passwd -1 0x0D00"},
        {.name = "no smbpasswd line", .user = "nomisc", .hash = "h", .lm = lm, .nt = nt, .want = "passwd -1 0x0000"},
    };
    for (const Case &c : cases) {
        const Lines out = run({"passwd", c.user, c.hash, c.lm, c.nt});
        ASSERT_EQ(out.size(), 1u) << c.name;
        EXPECT_EQ(out[0].substr(0, 9), std::string(c.want).substr(0, 9)) << c.name;
        EXPECT_TRUE(app.changes().empty() || app.changes()[0].path.rfind("/tmp/", 0) == 0) << c.name;
        for (const approot::Change &ch : app.changes())
            EXPECT_EQ(ch.path.rfind("/tmp/", 0), 0u) << c.name << " " << ch.path;
    }
    // the stored hash handed back, an empty one too
    EXPECT_EQ(run({"passwd", "Anna", "", lm, nt}), (Lines{"passwd 0"}));
    const std::string shadow = app.readFile("/etc/shadow");
    EXPECT_NE(shadow.find("\nAnna::19000:0:99999:7::20000:\n"), std::string::npos) << shadow;
    // the refused entries left nothing in the cache for this dump to write
    EXPECT_NE(shadow.find("\nnomisc:!:19000:0:99999:7:::\n"), std::string::npos) << shadow;
    const std::string smb = app.readFile("/usr/vexa/etc/private/smbpasswd");
    EXPECT_NE(smb.find("Anna:1026:" + lm + ":" + nt + ":[U          ]:LCT-5F000000:\n"), std::string::npos) << smb;
}

TEST_F(UserSet, SmmspMembers)
{
    app.writeFile("/etc/group", "root:x:0:\nsmmsp:x:7:admin,ANNA,gone,ghost\n", 0644);
    EXPECT_EQ(run({"smmsp", "anna", "-", "3", "smmsp", "gone", "Bert", "2", "smmsp", "-", "nomisc", "1", "smmsp",
                   "-", "-", "1"}),
              (Lines{"smmsp 0", "smmsp 0", "smmsp 0", "smmsp -1 0x0D00"}));
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$7$\nroot:x:0:\nsmmsp:x:25:admin,nomisc\n");
}

}  // namespace

namespace {

TEST_F(UserSet, RenameMapsAppliedToSharesAndGroups)
{
    // a removed user leaves the lists; the group is written without it
    EXPECT_EQ(run({"modify", "ANNA", ""}), (Lines{"smbconf 0", "group 0", "null -1 0x0D00"}));
    EXPECT_EQ(app.readFile("/etc/group"), "#$_@GID__INDEX@_$65536$\nroot:x:0:\nsmmsp:x:25:\nusers:x:100:\n"
                                          "staff:x:65536:nobody,admin,nobody\n");
    const std::string smb = app.readFile("/usr/vexa/etc/smb.conf");
    EXPECT_NE(smb.find("\twrite list=nobody,@staff,nobody\n"), std::string::npos) << smb;
    EXPECT_EQ(smb.find("Anna"), std::string::npos) << smb;

    // a map naming nobody: smb.conf is written again all the same, the
    // group file is not
    app.writeFile("/usr/vexa/etc/smb.conf", kSmbConf, 0644);
    app.writeFile("/etc/group", kGroups, 0644);
    EXPECT_EQ(run({"modify", "NOBODYELSE", "x"}), (Lines{"smbconf 0", "group 0", "null -1 0x0D00"}));
    EXPECT_EQ(app.readFile("/etc/group"), kGroups);
    bool smbWritten = false, groupWritten = false;
    for (const approot::Change &c : app.changes()) {
        smbWritten = smbWritten || c.path == "/usr/vexa/etc/smb.conf";
        groupWritten = groupWritten || c.path == "/etc/group";
    }
    EXPECT_TRUE(smbWritten);
    EXPECT_FALSE(groupWritten);
}

}  // namespace

namespace {

TEST_F(UserSet, HomesPathWithQuoteAndBlankMovesTheFolder)
{
    std::string conf = kSmbConf;
    conf.replace(conf.find("/volume1/homes"), strlen("/volume1/homes"), "/volume1/it's homes");
    app.writeFile("/usr/vexa/etc/smb.conf", conf, 0644);
    volumeDir("it's homes/Anna");
    EXPECT_EQ(run({"user", "Anna", "Bea", "x", "user", "-", "newbie", "pw", "go"}),
              (Lines{"go 0", "Bea 1026 100 home kept", "newbie 1031 100 home kept"}));
    EXPECT_TRUE(app.exists("/volume1/it's homes/Bea"));
    EXPECT_FALSE(app.exists("/volume1/it's homes/Anna"));
    EXPECT_EQ(stat("'/volume1/it'\\''s homes/newbie'"), "755 1031 100\n");
}

}  // namespace

namespace {

TEST_F(UserSet, AfpCopyThatFailsIsRemovedNotMovedIn)
{
    // a copy tool that leaves half a file and fails ("/bin" leads to
    // "/usr/bin")
    app.writeFile("/usr/bin/cp", "#!/bin/sh\necho -- -uamlist uams_noguest.so > \"$3\"\nexit 1\n", 0755);
    EXPECT_EQ(run({"user", "guest", "guest", "", "go"}), (Lines{"go 0", "guest 1025 100 home kept"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/afpd.conf"), kAfpd);
    EXPECT_FALSE(app.exists("/usr/vexa/etc/afpd.conf.tmp"));
    bool logged = false;
    for (const std::string &l : app.syslog())
        logged = logged || l.find("/bin/cp -Rf /usr/vexa/etc/afpd.conf /usr/vexa/etc/afpd.conf.tmp failed!") !=
                               std::string::npos;
    EXPECT_TRUE(logged);
}

}  // namespace
