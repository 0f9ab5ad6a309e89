// User lookups, listings, counts, free uids and group members inside the
// appliance root.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../user/user_fixture.h"
#include "base/err/vral_err.h"
#include "base/list/vral_list.h"
#include "base/lock/vral_lock.h"
#include "services/user/vexa_user_query.h"

namespace {

using usertest::Lines;
using vexatest::probe::result;
using vexatest::probe::say;

int num(const std::string &s)
{
    return atoi(s.c_str());
}

// "op N: a,b,c" for a list the call filled.
std::string listed(const char *op, int r, const VRALSzList *l)
{
    std::string s = result(op, r) + ":";
    for (int i = 0; i < l->nItem; ++i)
        s += std::string(i == 0 ? " " : ",") + VRALSzListItem(l, i);
    return s;
}

int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "get") {
            VEXAUSER *u = nullptr;
            const int r = VEXAUserGet(next().c_str(), &u);
            say(r == 0 ? "get " + std::string(u->szName) + " " + std::to_string(u->uid) : result("get", r));
            VEXAUserFree(u);
        } else if (op == "smb") {
            const std::string name = next();
            const int cb = num(next());
            char lm[40] = "", nt[40] = "";
            const int r = VEXAUserGetSmbPasswd(name.c_str(), lm, cb, nt, cb);
            say(result("smb", r) + (r == 0 ? std::string(" ") + lm + " " + nt : ""));
        } else if (op == "local") {
            VEXALOCALUSERINFO *head = nullptr;
            const int r = VEXALocalUserInfoEnum(&head);
            std::string s = result("local", r) + ":";
            for (VEXALOCALUSERINFO *p = head; p != nullptr; p = p->pNext)
                s += " " + std::string(p->szName) + "/" + std::to_string(p->uid) + "/" + std::to_string(p->gid);
            say(s + (head == nullptr ? " (null)" : ""));
            VEXALocalUserInfoFree(&head);
            say(head == nullptr ? "freed" : "kept");
        } else if (op == "enum") {
            VRALSzList *l = PslVRALSzListAlloc(512);
            const int r = VEXAUserEnum(&l, num(next()));
            say(listed("enum", r, l));
            VRALSzListFree(l);
        } else if (op == "total") {
            say(result("total", VEXAUserTotalNum(num(next()))));
        } else if (op == "avail") {
            say(result("avail", VEXAUserAvailableNum()));
        } else if (op == "setcur") {
            VEXAUSERDB *db = VEXAUserDBOpen();
            const int v = num(next());
            say(result("setcur", db == nullptr ? -1
                                               : VEXABDbSet(db->pPWDUID, USER_KEY_CURRENT_UID,
                                                            USER_KEY_CURRENT_UID_LEN, &v, sizeof v)));
            VEXAUserDBClose(db);
        } else if (op == "dropcur") {
            VEXAUSERDB *db = VEXAUserDBOpen();
            say(result("dropcur", db == nullptr ? -1
                                                : VEXABDbDelete(db->pPWDUID, USER_KEY_CURRENT_UID,
                                                                USER_KEY_CURRENT_UID_LEN)));
            VEXAUserDBClose(db);
        } else if (op == "freeuid") {
            VEXAUSERDB *db = VEXAUserDBOpen();
            say(result("freeuid", VEXAUserGetFreeUid(db)));
            VEXAUserDBClose(db);
        } else if (op == "members") {
            VRALSzList *l = PslVRALSzListAlloc(512);
            VRALSzListPush(&l, "kept");
            const int r = VEXAGroupListMember(next().c_str(), &l);
            say(listed("members", r, l));
            VRALSzListFree(l);
        } else if (op == "putname") {
            // a record of the name file as stored, its NUL only with "nul"
            VEXAUSERDB *db = VEXAUserDBOpen();
            const std::string key = next();
            const std::string value = next();
            const int cb = static_cast<int>(value.size()) + (next() == "nul" ? 1 : 0);
            const int klen = static_cast<int>(key.size()) + 1;
            say(result("putname", db == nullptr ? -1 : VEXABDbSet(db->pPWDName, key.c_str(), klen, value.c_str(), cb)));
            VEXAUserDBClose(db);
        } else if (op == "holdpw") {
            // The caller's own hold survives the readers, also failed ones.
            say(result("holdpw", VRALFileLock(LOCK_ID_PW | LOCK_EX | LOCK_NB, 0)));
        } else if (op == "pwref") {
            for (int k = 0; gLockFileTable[k].bit != 0; ++k)
                if (gLockFileTable[k].bit == LOCK_ID_PW)
                    say("pwref " + std::to_string(gLockFileTable[k].refcount));
        } else {
            return 92;
        }
    }
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

class UserQuery : public usertest::UserRoot {
protected:
    // Hidden-user candidates: a second uid-0 name, root, 1024, 1025, a
    // domain user; names out of key order to show the listing's order.
    void SetUp() override
    {
        UserRoot::SetUp();
        usertest::Accounts a = usertest::baseAccounts();
        a.passwd += "toor:x:0:0::/root:/bin/sh\nsys:x:999:100::/:/bin/false\nBeth:x:2000:101::/h:/bin/sh\n";
        a.shadow += "toor:!:19000:0:99999:7:::\nsys:!:19000:0:99999:7:::\nBeth:!:19000:0:99999:7:::\n";
        writeAccounts(a);
        app.writeFile("/usr/vexa/etc/private/domain_user", "DOM\\bob:S-1-5\n");
        domainMode();
        app.writeFile("/etc/group",
                      "root:x:0:\nusers:x:100:root\nsmmsp:x:25:\n"
                      "staff:x:65536:nobody,Anna,ghost,gone,nobody\n");
        app.writeFile("/etc/group_desc", "");
    }
    void guestSupport(const char *value)
    {
        app.writeFile("/etc.defaults/vexainfo.conf", std::string("guestsupport=\"") + value +
                                                         "\"\nmaxaccounts=\"10\"\n");
    }
};

TEST_F(UserQuery, HiddenUsersLeftOutOfListsAndCounts)
{
    struct Case {
        const char *name;
        const char *guest;
        Lines want;
    };
    const Case cases[] = {
        {.name = "guest support off",
         .guest = "no",
         .want = {"local 5: admin/1024/100 Anna/1026/100 Beth/2000/101 gone/1500/100 nomisc/1028/100", "freed",
                  "enum 5: admin,Anna,Beth,gone,nomisc", "enum 1: DOM\\bob",
                  "enum 6: admin,Anna,Beth,DOM\\bob,gone,nomisc", "total 6", "total 1", "avail 4"}},
        {.name = "guest support on",
         .guest = "yes",
         .want = {"local 6: admin/1024/100 Anna/1026/100 Beth/2000/101 gone/1500/100 guest/1025/100 "
                  "nomisc/1028/100",
                  "freed", "enum 6: admin,Anna,Beth,gone,guest,nomisc", "enum 1: DOM\\bob",
                  "enum 7: admin,Anna,Beth,DOM\\bob,gone,guest,nomisc", "total 7", "total 1", "avail 3"}},
    };
    for (const Case &c : cases) {
        guestSupport(c.guest);
        EXPECT_EQ(run({"local", "enum", "1", "enum", "2", "enum", "3", "total", "3", "total", "2", "avail"}), c.want)
            << c.name;
    }
}

TEST_F(UserQuery, ListsCountTheirNodesAndAnEmptyListIsNull)
{
    guestSupport("no");
    usertest::Accounts a;
    a.passwd = "root:x:0:0::/root:/bin/sh\nguest:x:1025:100::/:/bin/false\n";
    a.shadow = "root:!:1:0:99999:7:::\nguest:!:1:0:99999:7:::\n";
    writeAccounts(a);
    app.writeFile("/usr/vexa/etc/smb.conf", "[global]\n\tsecurity = user\n");
    EXPECT_EQ(run({"local", "enum", "1", "total", "0", "enum", "8"}),
              (Lines{"local 0: (null)", "freed", "enum 0:", "total -1 0x0D00", "enum -1 0x0D00:"}));
}

TEST_F(UserQuery, LookupsAndHashes)
{
    EXPECT_EQ(run({"get", "ANNA", "get", "nobody", "smb", "anna", "33", "smb", "nomisc", "33", "smb", "Anna", "32",
                   "smb", "Anna", "34"}),
              (Lines{"get Anna 1026", "get -1 0x1D00",
                     "smb 0 11111111111111111111111111111111 22222222222222222222222222222222", "smb -1 0x1D00",
                     "smb -1 0x0D00", "smb -1 0x0D00"}));
}

TEST_F(UserQuery, ReadersLeaveTheCallersLockHeld)
{
    guestSupport("no");
    EXPECT_EQ(run({"holdpw", "get", "Anna", "local", "smb", "x", "32", "pwref"}),
              (Lines{"holdpw 0", "get Anna 1026", "local 5: admin/1024/100 Anna/1026/100 Beth/2000/101 "
                                                  "gone/1500/100 nomisc/1028/100",
                     "freed", "smb -1 0x0D00", "pwref 1"}));
}

TEST_F(UserQuery, FreeUidFromTheMarker)
{
    usertest::Accounts a = usertest::baseAccounts();
    std::string allTaken = a.passwd;
    for (int uid = 1024; uid <= 3072; ++uid)
        if (uid != 1024 && uid != 1025 && uid != 1026 && uid != 1028 && uid != 1500)
            allTaken += "u" + std::to_string(uid) + ":x:" + std::to_string(uid) + ":100::/:/bin/sh\n";
    // 3072 wraps to 1024, taken, so 1025 (taken), 1026 (taken), then 1027
    EXPECT_EQ(run({"setcur", "3072", "freeuid", "setcur", "500", "freeuid", "setcur", "1026", "freeuid", "dropcur",
                   "freeuid"}),
              (Lines{"setcur 0", "freeuid 1027", "setcur 0", "freeuid 1027", "setcur 0", "freeuid 1027",
                     "dropcur 0", "freeuid 2001"}));
    a.passwd = "root:x:0:0::/root:/bin/sh\nx:x:1025:100::/:/bin/sh\n";
    a.shadow = "";
    writeAccounts(a);
    EXPECT_EQ(run({"setcur", "3072", "freeuid", "setcur", "500", "freeuid"}),
              (Lines{"setcur 0", "freeuid 1024", "setcur 0", "freeuid 1024"}));
    a.passwd = "x:x:1024:100::/:/bin/sh\n";
    writeAccounts(a);
    EXPECT_EQ(run({"setcur", "3072", "freeuid"}), (Lines{"setcur 0", "freeuid 1025"}));
    a.passwd = allTaken;
    writeAccounts(a);
    EXPECT_EQ(run({"setcur", "3072", "freeuid", "setcur", "2000", "freeuid"}),
              (Lines{"setcur 0", "freeuid -1 0x1F00", "setcur 0", "freeuid -1 0x1F00"}));
}

TEST_F(UserQuery, DomainUsersTheSharesName)
{
    guestSupport("no");
    app.writeFile("/usr/vexa/etc/private/domain_user", "DOM\\bob:S-1-5\nDOM\\eve:S-1-6\n");
    app.writeFile("/usr/vexa/etc/smb.conf",
                  "[global]\n\tsecurity = domain\n\tworkgroup = DOM\n"
                  "[a]\n\tpath = /a\n\twrite list = DOM\\bob,admin,@staff\n"
                  "[b]\n\tpath = /b\n\twrite list = DOM\\bob\n");
    // once each, and the names of the name file again for mask 2
    EXPECT_EQ(run({"enum", "4", "enum", "6"}), (Lines{"enum 1: DOM\\bob", "enum 3: DOM\\bob,DOM\\bob,DOM\\eve"}));
}

TEST_F(UserQuery, GroupMembers)
{
    guestSupport("no");
    EXPECT_EQ(run({"members", "USERS", "members", "staff", "members", "nogroup"}),
              (Lines{"members 0: kept,admin,Anna,Beth,gone,nomisc", "members 0: kept,Anna,gone",
                     "members -1 0x1800: kept"}));
}

TEST_F(UserQuery, WalksSkipRecordsTheyCannotReadAndFailOnABrokenFile)
{
    guestSupport("no");
    // a value without its NUL and one without its colons are passed over
    EXPECT_EQ(run({"putname", "ZED", "zed:x:2500:100::/z:/bin/sh", "-", "putname", "YAN", "yan", "nul", "putname",
                   "XAV", "xav:x:2600:100::/x:/bin/sh", "nul", "local", "enum", "1", "total", "1"}),
              (Lines{"putname 0", "putname 0", "putname 0",
                     "local 6: admin/1024/100 Anna/1026/100 Beth/2000/101 gone/1500/100 nomisc/1028/100 "
                     "xav/2600/100",
                     "freed", "enum 6: admin,Anna,Beth,gone,nomisc,xav", "total 6"}));

    // a leaf the library cannot find (the file cut short) ends every walk
    // with ERR_ENUM_FAILED
    usertest::Accounts a = usertest::baseAccounts();
    for (int i = 0; i < 3000; ++i)
        a.passwd += "u" + std::to_string(10000 + i) + ":x:" + std::to_string(3000 + i) + ":100::/u:/bin/sh\n";
    writeAccounts(a);
    EXPECT_EQ(run({"total", "1"}), (Lines{"total 3004"}));
    const approot::RunResult r =
        app.run({"/bin/sh", "-c",
                 "f=/tmp/.db.user.name.0832; truncate -s $(( $(stat -c %s $f) - 16384 )) $f"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run({"local", "total", "1", "total", "3", "get", "anna"}),
              (Lines{"local -1 0x9800: (null)", "freed", "total -1 0x9800", "total -1 0x9800", "get Anna 1026"}));
}

}  // namespace
