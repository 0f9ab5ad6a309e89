// The share cache inside the appliance root: the parse of smb.conf, the
// reads, listings, writes and the dump back into smb.conf.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"
#include "base/unicode/vral_unicode.h"
#include "services/account/vexa_account.h"
#include "services/group/vexa_group.h"
#include "services/share/vexa_share.h"
#include "services/user/vexa_user_query.h"
#include "services/user/vexa_user_set.h"
#include "share_fixture.h"

namespace {

using vexatest::probe::orNull;
using vexatest::probe::result;
using sharetest::Lines;
using vexatest::probe::hex;
using vexatest::probe::num;
using vexatest::probe::say;

VEXASHAREDB *gDb = nullptr;


std::string fields(const VEXASHARE *s)
{
    return std::string(s->szName) + "|" + s->szComment + "|" + s->szPath + "|" + s->szInvalidUsers + "|" +
           s->szWriteList + "|" + s->szReadList + "|" + std::to_string(s->fType) + "|" +
           std::to_string(s->fBrowseable) + "|" + std::to_string(s->fFtpWriteOnly);
}


int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "db") {
            if (gDb != nullptr)
                VEXAShareDBClose(gDb);
            gDb = VEXAShareDBOpen();
            say(gDb != nullptr ? "db ok" : "db null " + hex(VRALErrGet()));
        } else if (op == "get" || op == "dbget") {
            const std::string name = next();
            VEXASHARE *s = nullptr;
            const int r = op == "get" ? VEXAShareGet(name.c_str(), &s) : VEXAShareDBGet(gDb, name.c_str(), &s);
            say(r == 0 ? op + " " + fields(s) : result(op.c_str(), r));
            VEXAShareFree(s);
        } else if (op == "enum") {
            VRALSzList *list = PslVRALSzListAlloc(512);
            const int r = VEXAShareEnum(&list, num(next()));
            std::string names;
            for (int k = 0; k < list->nItem; ++k)
                names += std::string(k > 0 ? "|" : "") + VRALSzListItem(list, k);
            say(result("enum", r) + " " + names);
            VRALSzListFree(list);
        } else if (op == "dump") {
            say(result("dump", VEXAShareDBDump(gDb)));
        } else if (op == "set") {
            const std::string oldName = next();
            std::string a[7];
            for (std::string &s : a)
                s = next();
            VEXASHARE t{};
            t.szName = const_cast<char *>(a[0].c_str());
            t.szPath = const_cast<char *>(a[1].c_str());
            t.fType = num(a[2]);
            t.szReadList = const_cast<char *>(orNull(a[3]));
            t.szWriteList = const_cast<char *>(orNull(a[4]));
            t.szInvalidUsers = const_cast<char *>(orNull(a[5]));
            t.szComment = const_cast<char *>(orNull(a[6]));
            t.fBrowseable = 1;
            say(result("set", VEXAShareDBSet(gDb, orNull(oldName), &t)));
        } else if (op == "delete") {
            say(result("delete", VEXAShareDBDelete(gDb, next().c_str())));
        } else if (op == "corrupt") {
            char key[SHARE_KEY_SIZE];
            const int len = VRALUnicodeUTF8StrUpper(next().c_str(), key, sizeof key);
            const char bad[8] = {1, 2, 3, 4, 5, 6, 7, 0};
            const int r = VEXABDbSet(gDb->pShareDB, key, len + 1, bad, sizeof bad);
            gDb->pShareDB->pDB->sync(gDb->pShareDB->pDB, 0);
            say(result("corrupt", r));
        } else if (op == "hold") {
            say(result("hold", VRALFileLock(LOCK_ID_SMB | LOCK_SH | LOCK_NB, 0)));
        } else if (op == "held") {
            for (const VRALLockFile *e = gLockFileTable; e->bit != 0; ++e) {
                if (e->bit == LOCK_ID_SMB)
                    say(std::string("held ") + (e->fp != nullptr ? "yes " : "no ") + std::to_string(e->refcount));
            }
        } else if (op == "stat") {
            struct stat st {};
            const std::string path = next();
            if (stat(path.c_str(), &st) != 0)
                say("stat none");
            else
                say("stat " + std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_uid) + ":" +
                    std::to_string(st.st_gid));
        } else if (op == "wins") {
            char buf[64] = "";
            int isDomain = -1;
            const int r = VEXAWinsQuery1(buf, sizeof buf, &isDomain, nullptr);
            say(result("wins", r) + " " + buf + " " + std::to_string(isDomain));
        } else if (op == "rengroup") {
            // the group under a new name, its members kept
            const std::string old = next();
            const std::string name = next();
            VEXAGROUP *g = nullptr;
            VEXAGROUP *renamed = nullptr;
            int r = VEXAGroupGet(old.c_str(), &g);
            if (r == 0)
                r = VEXAGroupAlloc2(&renamed, name.c_str(), g->gid, g->ppszMember);
            if (r == 0)
                r = VEXAGroupSet(old.c_str(), renamed);
            say(result("rengroup", r));
            VEXAGroupFree(g);
            VEXAGroupFree(renamed);
        } else if (op == "renuser") {
            // the user under a new name, its stored hash handed back
            const char *old[1] = {nullptr};
            const std::string oldName = next();
            const std::string name = next();
            VEXAUSER *u = nullptr;
            int r = VEXAUserGet(oldName.c_str(), &u);
            VEXAUSER *renamed = nullptr;
            if (r == 0)
                r = VEXAUserAlloc(&renamed, name.c_str(), u->szPasswd, u->uid, u->gid, u->szGecos, u->szHome,
                                  u->szShell, u->expire, u->szMail, u->privilege);
            old[0] = oldName.c_str();
            if (r == 0)
                r = VEXAUserSetMulti(old, &renamed, 1);
            say(result("renuser", r));
            VEXAUserFree(u);
            VEXAUserFree(renamed);
        } else if (op == "append") {
            const std::string path = next();
            FILE *f = fopen(path.c_str(), "a");
            fputs((next() + "\n").c_str(), f);
            fclose(f);
        } else {
            return 99;
        }
    }
    if (gDb != nullptr)
        VEXAShareDBClose(gDb);
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

std::string removeSame(const std::string &list)
{
    std::string s = list;
    RemoveSameUsers(s.data());
    return s.c_str();
}

const char kConf[] =
    "; before the first section: dropped\n"
    "workgroup = stray\n"
    "[global]\n"
    "\tsecurity = user\n"
    "   workgroup = WG   \n"
    "\n"
    "# a comment in global\n"
    "\tserver string = \"Vexa NAS\"\n"
    "[printers]\n"
    "\tpath = /var/spool\n"
    "[My Share]\n"
    "\tcomment = say \"hi\", then go\n"
    "\tpath = /volume1/My Share\n"
    "\tread list = nobody,Anna,@staff,ghost,ANNA,nobody\n"
    "\twrite list = admin\n"
    "\tinvalid users = \n"
    "\tguest ok = no\n"
    "\twriteable = no\n"
    "\t# a comment line inside a share\n"
    "\tbrowseable = yes\n"
    "\tname = unread\n"
    "\tvalid users = whatever\n"
    "[Docs]\n"
    "path=/volume1/Docs\n"
    "\tguest ok = yes\n"
    "\twriteable = yes\n"
    "\tftp write only = yes\n"
    "\tbrowseable = no\n";

class ShareDb : public sharetest::ShareRoot {};

TEST_F(ShareDb, SmbConfRoundTripByteForByte)
{
    conf(kConf);
    const Lines first = run({"db", "dump", "dbget", "My Share", "dbget", "Docs"});
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(first[1], "dump 0");
    EXPECT_EQ(first[2], "dbget My Share|say \"hi\", then go|/volume1/My Share||admin|Anna,@staff|4|1|0");
    // "Docs" and "My Share" in key order, after the reserved sections
    const std::string want =
        "[global]\n"
        "\tsecurity = user\n"
        "\tworkgroup = WG\n"
        "\t\n"
        "\t# a comment in global\n"
        "\tserver string = \"Vexa NAS\"\n"
        "[printers]\n"
        "\tpath = /var/spool\n"
        "[Docs]\n"
        "\tinvalid users=nobody,nobody\n"
        "\tvalid users=nobody,nobody\n"
        "\tcomment=\"\"\n"
        "\tpath=/volume1/Docs\n"
        "\tguest ok=yes\n"
        "\tbrowseable=no\n"
        "\tftp write only=yes\n"
        "\tread list=nobody,nobody\n"
        "\twrite list=nobody,nobody\n"
        "\twriteable=yes\n"
        "[My Share]\n"
        "\tinvalid users=nobody,nobody\n"
        "\tvalid users=nobody," +
        removeSame("Anna,@staff,admin") +
        ",nobody\n"
        "\tcomment=\"say \"hi\", then go\"\n"
        "\tpath=/volume1/My Share\n"
        "\tguest ok=no\n"
        "\tbrowseable=yes\n"
        "\tftp write only=no\n"
        "\tread list=nobody,Anna,@staff,nobody\n"
        "\twrite list=nobody,admin,nobody\n"
        "\twriteable=no\n";
    EXPECT_EQ(app.readFile("/usr/vexa/etc/smb.conf"), want);
    EXPECT_FALSE(app.exists("/usr/vexa/etc/smb.conf.tmp"));

    // read back from the file, the same records; dumped again, the same bytes
    dropCache();
    const Lines again = run({"db", "dbget", "My Share", "dbget", "Docs", "dump"});
    ASSERT_EQ(again.size(), 4u);
    EXPECT_EQ(again[1], first[2]);
    EXPECT_EQ(again[2], first[3]);
    EXPECT_EQ(again[3], "dump 0");
    EXPECT_EQ(app.readFile("/usr/vexa/etc/smb.conf"), want);
}

TEST_F(ShareDb, RefusedSectionsAreKeptAsReadAfterTheShares)
{
    conf("[global]\n\tsecurity = user\n"
         "[Bad]\n  comment = no path  \n\n"
         "[a,b]\n\tpath = /x\n"
         "[Docs]\n\tpath = /d\n\tguest ok = yes\n\twriteable = no\n"
         "[DOCS]\n\tpath = /other\n"
         "[empty]\n");
    EXPECT_EQ(run({"db", "dump", "dbget", "Docs", "dbget", "Bad"}),
              (Lines{"db ok", "dump 0", "dbget Docs||/d||||1|1|0", "dbget -1 " + hex(ERR_SHARE_NOT_FOUND)}));
    const std::string text = app.readFile("/usr/vexa/etc/smb.conf");
    const std::string tail =
        "\twriteable=no\n"
        "[Bad]\n  comment = no path  \n\n"
        "[a,b]\n\tpath = /x\n"
        "[DOCS]\n\tpath = /other\n"
        "[empty]\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail) << text;
    // and stay so through the next parse and dump
    dropCache();
    EXPECT_EQ(run({"db", "dump"}), (Lines{"db ok", "dump 0"}));
    EXPECT_EQ(app.readFile("/usr/vexa/etc/smb.conf"), text);
}

TEST_F(ShareDb, TypeFromUsersGroupAndConfValues)
{
    struct Case {
        const char *name;
        const char *lines;
        int type;
    } cases[] = {
        {"inv", "invalid users = @users\n\tread list = @users\n\tguest ok = yes\n\twriteable = yes", 4},
        {"wr", "write list = Anna,@users\n\tread list = @users\n\tguest ok = no\n\twriteable = no", 2},
        {"rd", "read list = @users\n\tguest ok = no\n\twriteable = no", 1},
        {"users2", "write list = @users2\n\tguest ok = no\n\twriteable = no", 4},
        {"yesyes", "guest ok = yes\n\twriteable = yes", 2},
        {"yesno", "guest ok = yes\n\twriteable = no", 1},
        {"nono", "guest ok = no\n\twriteable = no", 4},
        {"noyes", "guest ok = no\n\twriteable = yes", 4},
        {"absent", "browseable = NO\n\tftp write only = YES", 4},
    };
    std::string text = "[global]\n\tsecurity = user\n";
    Lines ops = {"db"};
    Lines want = {"db ok"};
    for (const Case &c : cases) {
        text += std::string("[") + c.name + "]\n\tpath = /v/" + c.name + "\n\t" + c.lines + "\n";
        ops.insert(ops.end(), {"dbget", c.name});
    }
    conf(text);
    const Lines got = run(ops);
    ASSERT_EQ(got.size(), 1 + std::size(cases));
    for (size_t k = 0; k < std::size(cases); ++k) {
        const std::string &line = got[k + 1];
        // type|browseable|ftp write only at the end
        const std::string tail = line.substr(line.size() - 5);
        EXPECT_EQ(tail, std::to_string(cases[k].type) + "|1|0") << line;
    }
    EXPECT_EQ(got[4], "dbget users2||/v/users2||@users2||4|1|0");
}

TEST_F(ShareDb, EnumListsOrdinarySharesInKeyOrder)
{
    std::string text = "[global]\n\tsecurity = user\n";
    for (const char *n :
         {"usbshare", "USBSHARE12", "usbshare1a", "usbbackup", "satashare", "satashare1", "My Share", "Docs"})
        text += std::string("[") + n + "]\n\tpath = /v\n";
    conf(text);
    EXPECT_EQ(run({"enum", "1", "enum", "2", "enum", "4", "enum", "0", "enum", "7"}),
              (Lines{"enum 4 Docs|My Share|satashare1|usbshare1a", "enum 3 usbbackup|usbshare|USBSHARE12",
                     "enum 1 satashare", "enum 0 ",
                     "enum 8 Docs|My Share|satashare|satashare1|usbbackup|usbshare|USBSHARE12|usbshare1a"}));
    // a record that cannot be read makes the list no list
    EXPECT_EQ(run({"db", "corrupt", "satashare", "enum", "1"}),
              (Lines{"db ok", "corrupt 0", "enum -1 " + hex(ERR_BAD_FORMAT) + " Docs|My Share"}));
}

TEST_F(ShareDb, WritesStoreBeforeTheyDelete)
{
    conf("[global]\n\tsecurity = user\n[Docs]\n\tpath = /d\n[Media]\n\tpath = /m\n");
    EXPECT_EQ(run({"db",
                   // a new share under a taken name, a rename onto another share
                   "set", "-", "DOCS", "/x", "1", "-", "-", "-", "-",
                   "set", "Docs", "media", "/x", "1", "-", "-", "-", "-",
                   // a rename to a refused name leaves the old record
                   "set", "Docs", "a,b", "/x", "1", "-", "-", "-", "-",
                   // the same key: replaced; a case-only rename keeps one record
                   "set", "Docs", "DOCS", "/d2", "2", "Anna", "-", "-", "c",
                   "set", "Media", "Films", "/m", "4", "-", "-", "-", "-",
                   "dbget", "docs", "dbget", "media", "dbget", "films"}),
              (Lines{"db ok", "set -1 " + hex(ERR_SHARE_EXISTS), "set -1 " + hex(ERR_SHARE_EXISTS),
                     "set -1 " + hex(ERR_BAD_SHARE_NAME), "set 0", "set 0", "dbget DOCS|c|/d2|||Anna|2|1|0",
                     "dbget -1 " + hex(ERR_SHARE_NOT_FOUND), "dbget Films||/m||||4|1|0"}));
}

TEST_F(ShareDb, DumpKeepsOwnerAndModeUnderUmask0)
{
    conf("[global]\n\tsecurity = user\n[Docs]\n\tpath = /d\n", 0640);
    sh("chown 1024:100 /usr/vexa/etc/smb.conf");
    EXPECT_EQ(runUmask0({"db", "set", "-", "New", "/n", "1", "-", "-", "-", "-", "dump", "stat",
                         "/usr/vexa/etc/smb.conf"}),
              (Lines{"db ok", "set 0", "dump 0", "stat 416 1024:100"}));
    EXPECT_NE(app.readFile("/usr/vexa/etc/smb.conf").find("[New]\n"), std::string::npos);
}

TEST_F(ShareDb, DumpRefusesACacheBehindSmbConf)
{
    conf("[global]\n\tsecurity = user\n[Docs]\n\tpath = /d\n");
    EXPECT_EQ(run({"db", "append", "/usr/vexa/etc/smb.conf", "[Late]\n\tpath = /l", "dump"}),
              (Lines{"db ok", "dump -1 " + hex(ERR_OPEN_FAILED)}));
    EXPECT_NE(app.readFile("/usr/vexa/etc/smb.conf").find("[Late]"), std::string::npos);
}

TEST_F(ShareDb, ReadsReleaseOnlyTheLocksTheyTook)
{
    conf("[global]\n\tsecurity = user\n[Docs]\n\tpath = /d\n");
    // nested in the caller's shared hold, which stays
    EXPECT_EQ(run({"hold", "get", "Docs", "enum", "1", "held"}),
              (Lines{"hold 0", "get Docs||/d||||4|1|0", "enum 1 Docs", "held yes 1"}));
    // refused while another process holds the lock exclusively
    run({"hold"});
    const approot::RunResult r = app.run(
        {"/usr/bin/flock", "-x", "/tmp/lock/lock_smb", "/bin/sh", "-c", vexatest::probe::command() + " get Docs held"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(vexatest::probe::said(r.out), (Lines{"get -1 " + hex(ERR_LOCK_FAILED), "held no 0"}));
}

}  // namespace
