// The user database inside the appliance root: its build from the account
// files, the reads, and the life of its cache files under /tmp.
#include <db_185.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "base/err/vral_err.h"
#include "base/unicode/vral_unicode.h"
#include "services/group/vexa_group.h"
#include "services/share/vexa_share.h"
#include "services/user/vexa_user.h"
#include "codepages_data.h"
#include "user_fixture.h"

namespace {

using vexatest::probe::orNull;
using vexatest::probe::result;
using usertest::Lines;
using vexatest::probe::hex;
using vexatest::probe::num;
using vexatest::probe::say;

VEXAUSERDB *gDb = nullptr;
VEXAUSERDB *gHeld = nullptr;

std::string key(const std::string &name)
{
    char b[USER_KEY_SIZE];
    return VRALUnicodeUTF8StrUpper(name.c_str(), b, sizeof b) > 0 ? b : "";
}


std::string fields(const VEXAUSER *u)
{
    return std::string(u->szName) + "|" + u->szPasswd + "|" + std::to_string(u->uid) + "|" + std::to_string(u->gid) +
           "|" + u->szGecos + "|" + u->szHome + "|" + u->szShell + "|" + std::to_string(u->expire) + "|" +
           u->szMail + "|" + std::to_string(u->type) + "|" + std::to_string(u->privilege);
}


void get(VEXAUSERDB *db, const std::string &name)
{
    VEXAUSER *u = nullptr;
    if (db == nullptr || VEXAUserDBGet(db, key(name).c_str(), &u) != 0)
        say(result("get", -1));
    else
        say("get " + fields(u));
    VEXAUserFree(u);
}

// Appends a line in place and puts the modification time back into the
// same second: an edit made in the second of a dump.
int appendSameSecond(const std::string &path, const std::string &line)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return -1;
    FILE *f = fopen(path.c_str(), "a");
    if (f == nullptr)
        return -1;
    fputs((line + "\n").c_str(), f);
    fclose(f);
    const struct timespec ts[2] = {st.st_atim, {st.st_mtim.tv_sec, (st.st_mtim.tv_nsec + 1) % 1000000000}};
    return utimensat(AT_FDCWD, path.c_str(), ts, 0);
}

// A stored key or value as text, its NUL bytes written as "\0".
std::string shown(const char *p, int cb)
{
    std::string s;
    for (int i = 0; i < cb; ++i)
        s += p[i] == '\0' ? std::string("\\0") : std::string(1, p[i]);
    return s;
}

// Every record of the five files, in the set's order and each file's key
// order: "name KEY=VALUE"; of the markers only "#CURRENT_UID" (its value).
void records()
{
    VEXAUSERDB *db = VEXAUserDBOpen();
    if (db == nullptr) {
        say("records null");
        return;
    }
    const std::pair<const char *, VEXABDB *> files[] = {{"name", db->pPWDName},
                                                        {"misc", db->pPWDVexaser},
                                                        {"shadow", db->pPWDShadow},
                                                        {"smb", db->pPWDSMB},
                                                        {"uid", db->pPWDUID}};
    char *k = nullptr;
    char *v = nullptr;
    int cbK = 0;
    int cbV = 0;
    for (const auto &[what, h] : files) {
        VEXABDbCursorSetType(h, BDB_CURSOR_FIRST);
        while (VEXABDbCursorGet(h, 0, &k, &cbK, &v, &cbV) == 0) {
            VEXABDbCursorSetType(h, BDB_CURSOR_NEXT);
            const std::string key = shown(k, cbK);
            if (key == USER_KEY_CURRENT_UID && cbV == 4) {
                int cur = 0;
                memcpy(&cur, v, 4);
                say(std::string(what) + " " + key + "=" + std::to_string(cur));
            } else if (k[0] != '#') {
                say(std::string(what) + " " + key + "=" + shown(v, cbV));
            }
        }
        if (VRALErrGet() != ERR_END_OF_RECORDS)
            say(std::string(what) + " walk failed " + hex(VRALErrGet()));
    }
    free(k);
    free(v);
    VEXAUserDBClose(db);
}

// Writes every live file of the user set anew with pages of psize bytes,
// every record and its mode kept: a set an older build left.
int repage(unsigned int psize)
{
    for (const char *suffix : {".name.0832", ".misc.0832", ".shadow.0832", ".smb.0832", ".uid.0832"}) {
        const std::string path = std::string(USER_DB_PREFIX) + suffix;
        const std::string tmp = path + ".repage";
        struct stat st {};
        DB *from = dbopen(path.c_str(), O_RDONLY, 0, DB_BTREE, nullptr);
        if (from == nullptr || stat(path.c_str(), &st) != 0)
            return -1;
        BTREEINFO info;
        memset(&info, 0, sizeof info);
        info.psize = psize;
        info.flags = strcmp(suffix, ".uid.0832") == 0 ? R_DUP : 0;
        DB *to = dbopen(tmp.c_str(), O_RDWR | O_CREAT | O_EXCL, st.st_mode & 0777, DB_BTREE, &info);
        if (to == nullptr)
            return -1;
        DBT k{};
        DBT v{};
        for (int r = from->seq(from, &k, &v, R_FIRST); r == 0; r = from->seq(from, &k, &v, R_NEXT)) {
            if (to->put(to, &k, &v, 0) != 0)
                return -1;
        }
        from->close(from);
        if (to->close(to) != 0 || chmod(tmp.c_str(), st.st_mode & 0777) != 0 || rename(tmp.c_str(), path.c_str()) != 0)
            return -1;
    }
    return 0;
}

int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "codepages") {
            // before any ICU call: the code pages' stand-in converters
            codepages::useTestConverters();
        } else if (op == "db") {
            VEXAUserDBClose(gDb);
            gDb = VEXAUserDBOpen();
            say(gDb != nullptr ? "db ok" : "db null " + hex(VRALErrGet()));
        } else if (op == "openfile") {
            say(result("openfile", VEXAUserDBOpenFile(&gDb, USER_DB_PREFIX)));
        } else if (op == "check") {
            say(result("check", VEXAUserDBCheckAndRebuild(&gDb)));
        } else if (op == "rebuild") {
            say(result("rebuild", VEXAUserDBRebuild()));
        } else if (op == "hold") {
            say(result("hold", VEXAUserDBOpenFile(&gHeld, USER_DB_PREFIX)));
        } else if (op == "checkheld") {
            say(result("checkheld", VEXAUserDBCheckAndRebuild(&gHeld)));
        } else if (op == "get") {
            get(gDb, next());
        } else if (op == "getheld") {
            get(gHeld, next());
        } else if (op == "curuid") {
            char *p = nullptr;
            int cb = 0;
            int v = 0;
            if (gDb != nullptr &&
                VEXABDbGet(gDb->pPWDUID, USER_KEY_CURRENT_UID, USER_KEY_CURRENT_UID_LEN, &p, &cb) == 0 && cb == 4) {
                memcpy(&v, p, 4);
                say("curuid " + std::to_string(v));
            } else {
                say("curuid none");
            }
            free(p);
        } else if (op == "exists") {
            const std::string k = key(next());
            const unsigned cb = static_cast<unsigned>(num(next()));
            char buf[256] = "";
            const int r = VEXAUserDBCheckExists(gDb, k.c_str(), static_cast<int>(k.size()), buf, cb);
            say("exists " + std::to_string(r) + " " + buf);
        } else if (op == "byuid") {
            VEXAUSER *u = nullptr;
            const int r = VEXAUserGetByUid(num(next()), &u);
            say(r == 0 ? "byuid " + std::string(u->szName) : result("byuid", r));
            VEXAUserFree(u);
        } else if (op == "set") {
            const std::string oldName = next();
            std::string a[10];
            for (std::string &s : a)
                s = next();
            VEXAUSER *u = nullptr;
            if (VEXAUserAlloc(&u, a[0].c_str(), "", num(a[2]), num(a[3]), "", "", "", num(a[7]), "", num(a[9])) !=
                0)
                return 90;
            u->szPasswd = const_cast<char *>(orNull(a[1]));
            u->szGecos = const_cast<char *>(orNull(a[4]));
            u->szHome = const_cast<char *>(orNull(a[5]));
            u->szShell = const_cast<char *>(orNull(a[6]));
            u->szMail = const_cast<char *>(orNull(a[8]));
            const std::string k = oldName == "-" ? "" : key(oldName);
            const int r = VEXAUserDBSet(gDb, oldName == "-" ? nullptr : k.c_str(), static_cast<int>(k.size()), u);
            say(result("set", r) + (u->szHome == nullptr ? " home=NULL" : "") + " shell=" +
                (u->szShell != nullptr ? u->szShell : "NULL"));
            VEXAUserFree(u);
        } else if (op == "del") {
            say(result("del", VEXAUserDBDelete(gDb, key(next()).c_str())));
        } else if (op == "dump") {
            say(result("dump", VEXAUserDBDump(gDb)));
        } else if (op == "append") {
            const std::string path = next();
            say(result("append", appendSameSecond(path, next())));
        } else if (op == "truncate") {
            const std::string path = next();
            say(result("truncate", truncate(path.c_str(), num(next()))));
        } else if (op == "records") {
            records();
        } else if (op == "repage") {
            say(result("repage", repage(static_cast<unsigned int>(num(next())))));
        } else if (op == "othersets") {
            // the group and share sets, built beside the user set
            VEXAGROUPDB *g = VEXAGroupDBOpen();
            VEXASHAREDB *sh = VEXAShareDBOpen();
            say(std::string("othersets ") + (g != nullptr ? "group" : "-") + " " + (sh != nullptr ? "share" : "-"));
            VEXAGroupDBClose(g);
            VEXAShareDBClose(sh);
        } else if (op == "close") {
            VEXAUserDBClose(gDb);
            gDb = nullptr;
        } else {
            return 92;
        }
    }
    VEXAUserDBClose(gDb);
    VEXAUserDBClose(gHeld);
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

using UserDb = usertest::UserRoot;

TEST_F(UserDb, BuildGivesEveryUsersFields)
{
    usertest::Accounts a = usertest::baseAccounts();
    // a case pair: the later line takes the key, both uids point at it
    a.passwd += "Carl:x:1600:100::/c1:/bin/sh\ncarl:x:1601:100::/c2:/bin/sh\n";
    a.shadow += "carl:!:19000:0:99999:7:::\n";
    writeAccounts(a);
    const std::string admin = usertest::md5("adm", "ad");
    const std::string anna = usertest::md5("old", "ab");
    struct Case {
        const char *name;
        std::string want;
    };
    const Case cases[] = {
        {.name = "admin", .want = "admin|" + admin + "|1024|100|System default user|/var/services/homes/admin|/bin/sh|0||1|31"},
        {.name = "ANNA", .want = "Anna|" + anna + "|1026|100|Anna:B;|/var/services/homes/Anna|/bin/sh|20000|anna@x|1|7"},
        {.name = "nomisc", .want = "nomisc|!|1028|100||/var/services/homes/nomisc|/bin/sh|0||1|0"},
        {.name = "root", .want = "root|" + usertest::md5("r00t", "rt") + "|0|0|root|/root|/bin/ash|0||1|0"},
        {.name = "CARL", .want = "carl|!|1601|100||/c2|/bin/sh|0||1|0"},
        {.name = "nobody", .want = "-1 0x1D00"},
    };
    Lines ops = {"db"};
    Lines want = {"db ok"};
    for (const Case &c : cases) {
        ops.insert(ops.end(), {"get", c.name});
        want.push_back("get " + c.want);
    }
    ops.insert(ops.end(), {"byuid", "1600", "exists", "anna", "5", "exists", "anna", "4"});
    want.insert(want.end(), {"byuid carl", "exists 1 Anna", "exists 0 "});
    EXPECT_EQ(run(ops), want);
    EXPECT_FALSE(app.exists("/var/log/vexalogset1.args"));
}

TEST_F(UserDb, DomainUsersOnlyInDomainMode)
{
    app.writeFile("/usr/vexa/etc/private/domain_user", "DOM\\bob:S-1-5\nno colon here\nDOM\\\xff\xfe:x\n");
    EXPECT_EQ(run({"db", "get", "DOM\\bob"}), (Lines{"db ok", "get -1 0x1D00"}));
    sh("rm -f /tmp/.db.user.*");
    domainMode();
    EXPECT_EQ(run({"db", "get", "DOM\\bob", "get", "admin"}),
              (Lines{"db ok", "get DOM\\bob||-1|-1||||-1||2|3",
                     "get admin|" + usertest::md5("adm", "ad") +
                         "|1024|100|System default user|/var/services/homes/admin|/bin/sh|0||1|31"}));
    EXPECT_FALSE(app.exists("/var/log/vexalogset1.args"));

    // without the list the users still load, and the event is recorded
    sh("rm -f /tmp/.db.user.* /usr/vexa/etc/private/domain_user");
    EXPECT_EQ(run({"db", "get", "nomisc"}), (Lines{"db ok", "get nomisc|!|1028|100||/var/services/homes/nomisc|/bin/sh|0||1|0"}));
    EXPECT_EQ(app.readFile("/var/log/vexalogset1.args"), "sys err 0x1180050A\n");
}

TEST_F(UserDb, CurrentUidFromTheHeaderOrTheHighestUid)
{
    struct Case {
        const char *name;
        std::string header;
        const char *want;
    };
    const Case cases[] = {
        {.name = "in range", .header = "#$_@UID__INDEX@_$1030$\n", .want = "curuid 1030"},
        {.name = "out of range", .header = "#$_@UID__INDEX@_$5000$\n", .want = "curuid 1500"},
        {.name = "none", .header = "", .want = "curuid 1500"},
    };
    for (const Case &c : cases) {
        usertest::Accounts a = usertest::baseAccounts();
        a.vexauser = c.header + "admin:0:\n";
        writeAccounts(a);
        sh("rm -f /tmp/.db.user.*");
        EXPECT_EQ(run({"db", "curuid"}), (Lines{"db ok", c.want})) << c.name;
    }
}

TEST_F(UserDb, NamesWithoutAKeyFormFailTheBuildLikeABadUid)
{
    struct Case {
        const char *name;
        const char *file;
        std::string line;
    };
    const Case cases[] = {
        {.name = "bad uid", .file = "/etc/passwd", .line = "bad:x::100::/:/bin/sh\n"},
        {.name = "bad UTF-8", .file = "/etc/passwd", .line = "b\xff:x:1700:100::/:/bin/sh\n"},
        {.name = "too long", .file = "/etc/shadow", .line = std::string(600, 'n') + ":!:1:0:99999:7:::\n"},
    };
    for (const Case &c : cases) {
        SetUp();
        app.writeFile(c.file, app.readFile(c.file) + c.line, std::string(c.file) == "/etc/shadow" ? 0600 : 0644);
        EXPECT_EQ(run({"db"}), (Lines{"db null 0x0900"})) << c.name;
        // nothing half-built is left for the next open
        EXPECT_EQ(sh("ls -a /tmp | grep db.user | grep -v lock; true"), "") << c.name;
    }
}

TEST_F(UserDb, SetIsCheckedAtOpenAndRebuiltWhenStale)
{
    EXPECT_EQ(run({"db", "check"}), (Lines{"db ok", "check 0"}));
    EXPECT_EQ(sh("stat -c '%n %a %u' /tmp/.db.user.*.0832"),
              "/tmp/.db.user.misc.0832 644 0\n/tmp/.db.user.name.0832 644 0\n/tmp/.db.user.shadow.0832 600 0\n"
              "/tmp/.db.user.smb.0832 600 0\n/tmp/.db.user.uid.0832 644 0\n");
    EXPECT_EQ(sh("stat -c %s /tmp/.db.user.name.0832"), "32768\n");
    EXPECT_EQ(run({"openfile", "truncate", "/tmp/.db.user.name.0832", "8191", "check", "check"}),
              (Lines{"openfile 0", "truncate 0", "check 1", "check 0"}));
    // one the library no longer takes is rebuilt at the open
    sh("truncate -s 8191 /tmp/.db.user.name.0832");
    EXPECT_EQ(run({"openfile", "check"}), (Lines{"openfile 1", "check 0"}));

    // a handle held across a rebuild reads the new set after its check
    EXPECT_EQ(run({"hold", "getheld", "gone", "append", "/etc/passwd", "late:x:1800:100::/l:/bin/sh", "rebuild",
                   "getheld", "late", "checkheld", "getheld", "late"}),
              (Lines{"hold 0", "get gone|" + usertest::md5("g", "gg") + "|1500|100||/var/services/homes/gone|/bin/sh|0||1|0",
                     "append 0", "rebuild 0", "get -1 0x1D00", "checkheld 1", "get -1 0x2000"}));
}

TEST_F(UserDb, LinksAndOtherUsersFilesAtTheCachePathsAreNotTrusted)
{
    app.writeFile("/etc/target", "keep me\n", 0640);
    app.symlink("/etc/target", "/tmp/.db.user.name.0832");
    app.symlink("/etc/target", "/tmp/.db.user.tmp.shadow.0832");
    EXPECT_EQ(run({"db", "get", "gone"}).at(0), "db ok");
    EXPECT_EQ(app.readFile("/etc/target"), "keep me\n");
    EXPECT_EQ(sh("stat -c '%a %F' /etc/target /tmp/.db.user.name.0832"), "640 regular file\n644 regular file\n");

    // a cache file of another user's, with a forged uid-0 record, is rebuilt
    sh("chown 65534 /tmp/.db.user.smb.0832");
    EXPECT_EQ(run({"db", "check"}), (Lines{"db ok", "check 0"}));
    EXPECT_EQ(sh("stat -c '%a %u' /tmp/.db.user.smb.0832"), "600 0\n");
}

TEST_F(UserDb, OtherUsersReadWithoutHashesAndNeverBuild)
{
    const Lines asNobody = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
    auto runAsNobody = [&](const Lines &ops) {
        Lines argv = asNobody;
        for (const std::string &a : vexatest::probe::argv(ops))
            argv.push_back(a);
        const approot::RunResult r = app.run(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        return vexatest::probe::said(r.out);
    };
    EXPECT_EQ(runAsNobody({"db"}), (Lines{"db null 0x0900"}));
    EXPECT_EQ(sh("ls -a /tmp | grep -c db.user; true"), "0\n");

    EXPECT_EQ(run({"db"}), (Lines{"db ok"}));
    // the shadow and smbpasswd caches stay unread; the name file answers
    EXPECT_EQ(runAsNobody({"db", "get", "admin", "exists", "admin", "64"}),
              (Lines{"db ok", "get -1 0x0900", "exists 1 admin"}));
    const std::string before = sh("stat -c '%i %y' /tmp/.db.user.*");
    app.writeFile("/etc/passwd", usertest::baseAccounts().passwd + "late:x:1800:100::/l:/bin/sh\n");
    EXPECT_EQ(runAsNobody({"db"}), (Lines{"db null 0x0900"}));
    EXPECT_EQ(sh("stat -c '%i %y' /tmp/.db.user.*"), before);
}

TEST_F(UserDb, BuildStoresExactlyTheAccountFilesRecords)
{
    // root alone, then each case's lines after it
    const std::string misc0 = "# record user misc, format \"user_name:user_privilege:user_mail\"\n";
    const Lines root = {"name ROOT\\0=root:x:0:0:root:/root:/bin/sh\\0"};
    struct Case {
        const char *name;
        usertest::Accounts add;
        const char *header;
        const char *domainUsers;  // NULL: not a domain member
        Lines want;
    };
    const Case cases[] = {
        {.name = "names differing only in case: the later line wins, both uids kept",
         .add = {.passwd = "Carl:x:1600:100::/c1:/bin/sh\ncarl:x:1601:100::/c2:/bin/sh\n",
                 .shadow = "Carl:!:2:0:99999:7:::\ncarl:!:3:0:99999:7:::\n",
                 .vexauser = "Carl:1:\ncarl:2:c@x\n",
                 .smbpasswd = "Carl:1600:A:B:[U          ]:LCT-1:\ncarl:1601:C:D:[U          ]:LCT-2:\n"},
         .header = "1030",
         .domainUsers = nullptr,
         .want = {"name CARL\\0=carl:x:1601:100::/c2:/bin/sh\\0", "name ROOT\\0=root:x:0:0:root:/root:/bin/sh\\0",
                  "misc CARL\\0=carl:2:c@x\\0", "shadow CARL\\0=carl:!:3:0:99999:7:::\\0",
                  "shadow ROOT\\0=root:!:1:0:99999:7:::\\0", "smb CARL\\0=carl:1601:C:D:[U          ]:LCT-2:\\0",
                  "uid #CURRENT_UID=1030", "uid 000000\\0=ROOT\\0", "uid 001600\\0=CARL\\0",
                  "uid 001601\\0=CARL\\0"}},
        {.name = "one uid twice: its records in the file's order, not the names'",
         .add = {.passwd = "zoe:x:1700:100::/z:/bin/sh\nabe:x:1700:100::/a:/bin/sh\n",
                 .shadow = "zoe:!:2:0:99999:7:::\nabe:!:2:0:99999:7:::\n",
                 .vexauser = "",
                 .smbpasswd = ""},
         .header = "1030",
         .domainUsers = nullptr,
         .want = {"name ABE\\0=abe:x:1700:100::/a:/bin/sh\\0", "name ROOT\\0=root:x:0:0:root:/root:/bin/sh\\0",
                  "name ZOE\\0=zoe:x:1700:100::/z:/bin/sh\\0", "shadow ABE\\0=abe:!:2:0:99999:7:::\\0",
                  "shadow ROOT\\0=root:!:1:0:99999:7:::\\0", "shadow ZOE\\0=zoe:!:2:0:99999:7:::\\0",
                  "uid #CURRENT_UID=1030", "uid 000000\\0=ROOT\\0", "uid 001700\\0=ZOE\\0",
                  "uid 001700\\0=ABE\\0"}},
        {.name = "a domain user, in the name file only",
         .add = {},
         .header = "1030",
         .domainUsers = "DOM\\zed:S-1-5-21\n",
         .want = {"name DOM\\ZED\\0=DOM\\zed:x:-1:-1:::\\0", "name ROOT\\0=root:x:0:0:root:/root:/bin/sh\\0",
                  "shadow ROOT\\0=root:!:1:0:99999:7:::\\0", "uid #CURRENT_UID=1030", "uid 000000\\0=ROOT\\0"}},
        {.name = "a vexauser.conf header out of range: the highest uid",
         .add = {.passwd = "dan:x:1800:100::/d:/bin/sh\n", .shadow = "", .vexauser = "dan:0:\n", .smbpasswd = ""},
         .header = "5000",
         .domainUsers = nullptr,
         .want = {"name DAN\\0=dan:x:1800:100::/d:/bin/sh\\0", "name ROOT\\0=root:x:0:0:root:/root:/bin/sh\\0",
                  "misc DAN\\0=dan:0:\\0", "shadow ROOT\\0=root:!:1:0:99999:7:::\\0", "uid #CURRENT_UID=1800",
                  "uid 000000\\0=ROOT\\0", "uid 001800\\0=DAN\\0"}},
        {.name = "last lines without a newline",
         .add = {.passwd = "eve:x:1900:100::/e:/bin/sh",
                 .shadow = "eve:!:5:0:99999:7:::",
                 .vexauser = "eve:3:e@x",
                 .smbpasswd = "eve:1900:A:B:[U          ]:LCT-3:"},
         .header = "1030",
         .domainUsers = nullptr,
         .want = {"name EVE\\0=eve:x:1900:100::/e:/bin/sh\\0", "name ROOT\\0=root:x:0:0:root:/root:/bin/sh\\0",
                  "misc EVE\\0=eve:3:e@x\\0", "shadow EVE\\0=eve:!:5:0:99999:7:::\\0",
                  "shadow ROOT\\0=root:!:1:0:99999:7:::\\0", "smb EVE\\0=eve:1900:A:B:[U          ]:LCT-3:\\0",
                  "uid #CURRENT_UID=1030", "uid 000000\\0=ROOT\\0", "uid 001900\\0=EVE\\0"}},
    };
    for (const Case &c : cases) {
        SetUp();
        usertest::Accounts a;
        a.passwd = "root:x:0:0:root:/root:/bin/sh\n" + c.add.passwd;
        a.shadow = "root:!:1:0:99999:7:::\n" + c.add.shadow;
        a.vexauser = std::string("#$_@UID__INDEX@_$") + c.header + "$\n" + misc0 + c.add.vexauser;
        a.smbpasswd = c.add.smbpasswd;
        writeAccounts(a);
        if (c.domainUsers != nullptr) {
            domainMode();
            app.writeFile("/usr/vexa/etc/private/domain_user", c.domainUsers);
        }
        sh("rm -f /tmp/.db.user.*");
        EXPECT_EQ(run({"records"}), c.want) << c.name;
    }
}

// Berkeley DB's own tools read copies of what the sets hold.
class UserDbFiles : public usertest::UserRoot {
protected:
    // "db5.3_<tool> FILE" on a copy of a cache file: its output.
    std::string dbTool(const std::string &tool, const std::string &file)
    {
        return sh("cp " + file + " /root/copy && db5.3_" + tool + " /root/copy 2>&1; rm -f /root/copy");
    }
    std::string verify(const std::string &file) { return dbTool("verify", file); }
    // The line of "db5.3_stat -d" that holds what.
    std::string statLine(const std::string &file, const std::string &what)
    {
        const std::string out = dbTool("stat -d", file);
        const size_t at = out.find(what);
        if (at == std::string::npos)
            return "(no " + what + ")";
        const size_t from = out.rfind('\n', at);
        const size_t from1 = from == std::string::npos ? 0 : from + 1;
        return out.substr(from1, out.find('\n', at) - from1);
    }
    std::string pageSize(const std::string &file)
    {
        const std::string line = statLine(file, "\tUnderlying database page size");
        return line.substr(0, line.find('\t'));
    }
};

TEST_F(UserDbFiles, EveryFileOfTheUserGroupAndShareSetsVerifies)
{
    app.writeFile("/etc/group", "root:x:0:\nusers:x:100:admin\nstaff:x:65536:nobody,Anna,nobody\n");
    app.writeFile("/etc/group_desc", "staff:the staff\n");
    app.writeFile("/usr/vexa/etc/smb.conf",
                  "[global]\n\tsecurity = user\n\tworkgroup = WG\n[docs]\n\tpath = /volume1/docs\n"
                  "\twrite list = admin,@staff\n");
    EXPECT_EQ(run({"db", "othersets"}), (Lines{"db ok", "othersets group share"}));
    const std::string files = sh("ls /tmp/.db.user.*.0832 /tmp/.db.group.*.0832 /tmp/.db.vexashare.0832");
    int n = 0;
    for (size_t at = 0, end; (end = files.find('\n', at)) != std::string::npos; at = end + 1, ++n) {
        const std::string file = files.substr(at, end - at);
        EXPECT_EQ(verify(file), "BDB5105 Verification of /root/copy succeeded.\n") << file;
        EXPECT_EQ(pageSize(file), "16384") << file;
    }
    EXPECT_EQ(n, 9);
}

TEST_F(UserDbFiles, ANameFileOfFiftyThousandUsersHasFullLeaves)
{
    usertest::Accounts a = usertest::baseAccounts();
    for (int i = 1; i <= 50000; ++i) {
        const std::string name = "user" + std::to_string(i);
        a.passwd += name + ":x:" + std::to_string(2000 + i) + ":100::/var/services/homes/" + name + ":/bin/sh\n";
    }
    writeAccounts(a);
    EXPECT_EQ(run({"db"}), (Lines{"db ok"}));
    const std::string file = "/tmp/.db.user.name.0832";
    EXPECT_EQ(pageSize(file), "16384");
    // "47486	Number of bytes free in tree leaf pages (98% ff)"
    const std::string leaves = statLine(file, "Number of bytes free in tree leaf pages (");
    const size_t open = leaves.find('(');
    ASSERT_NE(open, std::string::npos) << leaves;
    EXPECT_GE(atoi(leaves.c_str() + open + 1), 90) << leaves;
    EXPECT_EQ(statLine(file, "Number of data items in the tree"), "50009\tNumber of data items in the tree");
    EXPECT_EQ(verify(file), "BDB5105 Verification of /root/copy succeeded.\n");
}

TEST_F(UserDbFiles, ASetLeftWithSmallerPagesOpensAndIsRebuiltWithTheNewOnes)
{
    const std::string anna = "get Anna|" + usertest::md5("old", "ab") +
                             "|1026|100|Anna:B;|/var/services/homes/Anna|/bin/sh|20000|anna@x|1|7";
    EXPECT_EQ(run({"db", "repage", "4096"}), (Lines{"db ok", "repage 0"}));
    EXPECT_EQ(pageSize("/tmp/.db.user.name.0832"), "4096");
    EXPECT_EQ(run({"db", "check", "get", "anna", "byuid", "1500"}), (Lines{"db ok", "check 0", anna, "byuid gone"}));
    EXPECT_EQ(pageSize("/tmp/.db.user.name.0832"), "4096");
    // the next rebuild (a source changed) makes the new pages
    EXPECT_EQ(run({"append", "/etc/passwd", "late:x:1800:100::/l:/bin/sh", "db", "get", "anna", "exists", "late",
                   "64"}),
              (Lines{"append 0", "db ok", anna, "exists 1 late"}));
    for (const char *suffix : {"name", "misc", "shadow", "smb", "uid"})
        EXPECT_EQ(pageSize(std::string("/tmp/.db.user.") + suffix + ".0832"), "16384") << suffix;
}

}  // namespace
