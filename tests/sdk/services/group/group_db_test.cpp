// The group database inside the appliance root: the record, its build from
// the group files and the domain list, the lookups and the walk.  The probe
// of this folder lives here; the other files use its operations.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/hash/vral_hash.h"
#include "base/lock/vral_lock.h"
#include "base/unicode/vral_unicode.h"
#include "failcall.h"
#include "group_fixture.h"
#include "services/group/vexa_group.h"
#include "services/share/vexa_share.h"
#include "services/user/vexa_user_list.h"

namespace {

using grouptest::Lines;
using vexatest::probe::hex;
using vexatest::probe::num;
using vexatest::probe::orNull;
using vexatest::probe::result;
using vexatest::probe::say;

VEXAGROUPDB *gDb = nullptr;

std::string key(const std::string &name)
{
    char b[512];
    return VRALUnicodeUTF8StrUpper(name.c_str(), b, sizeof b) > 0 ? b : "";
}

std::string fields(const VEXAGROUP *g)
{
    std::string s = std::string(g->szName) + "|" + std::to_string(g->gid) + "|";
    for (char **m = g->ppszMember; *m != nullptr; ++m)
        s += std::string(m == g->ppszMember ? "" : ",") + *m;
    return s + "|" + std::to_string(g->type);
}

// "-" is no list; otherwise the comma-separated items.
std::vector<std::string> items(const std::string &s)
{
    std::vector<std::string> v;
    if (s == "-")
        return v;
    size_t p = 0;
    for (;;) {
        const size_t c = s.find(',', p);
        v.push_back(s.substr(p, c == std::string::npos ? std::string::npos : c - p));
        if (c == std::string::npos)
            return v;
        p = c + 1;
    }
}

// A record of the caller's own: name, gid and members.
struct Record {
    std::vector<std::string> members;
    std::vector<char *> argv;
    VEXAGROUP g{};
    Record(const std::string &name, int gid, const std::string &list) : members(items(list))
    {
        for (std::string &m : members)
            argv.push_back(m.data());
        argv.push_back(nullptr);
        g.szName = const_cast<char *>(name.c_str());
        g.gid = gid;
        g.ppszMember = argv.data();
    }
};

int probe(vexatest::probe::Ops next)
{
    while (next.more()) {
        const std::string op = next();
        if (op == "db") {
            VEXAGroupDBClose(gDb);
            gDb = VEXAGroupDBOpen();
            say(gDb != nullptr ? "db ok" : "db null " + hex(VRALErrGet()));
        } else if (op == "close") {
            VEXAGroupDBClose(gDb);
            gDb = nullptr;
        } else if (op == "get") {
            const std::string k = key(next());
            char *line = nullptr;
            int cb = 0;
            VEXAGROUP *g = nullptr;
            if (VEXABDbGet(gDb->pGRPName, k.c_str(), static_cast<int>(k.size()) + 1, &line, &cb) != 0)
                say(result("get", -1));
            else if (VEXAGroupDBUnpack(line, &g) != 0)
                say(result("unpack", -1));
            else
                say("get " + std::string(line) + " = " + fields(g));
            free(line);
            VEXAGroupFree(g);
        } else if (op == "walk") {
            const int mask = num(next());
            const int all = num(next());
            std::string s = "walk";
            VEXAGROUP *g = nullptr;
            while (VEXAGroupDBGetByCursor(gDb, &g, mask, all) == 0)
                s += " " + std::string(g->szName);
            say(s + " " + hex(VRALErrGet()));
            VEXAGroupFree(g);
        } else if (op == "exists") {
            const std::string k = key(next());
            const int cb = num(next());
            char buf[256] = "";
            const int r = VEXAGroupDBCheckExists(gDb, k.c_str(), static_cast<int>(k.size()), buf, cb);
            say("exists " + std::to_string(r) + " " + (r == 1 ? buf : ""));
        } else if (op == "curgid") {
            char *p = nullptr;
            int cb = 0;
            int v = 0;
            if (VEXABDbGet(gDb->pGRPGID, GROUP_KEY_CURRENT_GID, GROUP_KEY_CURRENT_GID_LEN, &p, &cb) == 0 && cb == 4) {
                memcpy(&v, p, 4);
                say("curgid " + std::to_string(v));
            } else {
                say("curgid none");
            }
            free(p);
        } else if (op == "setcurgid") {
            const int v = num(next());
            say(result("setcurgid", VEXABDbSet(gDb->pGRPGID, GROUP_KEY_CURRENT_GID, GROUP_KEY_CURRENT_GID_LEN, &v, 4)));
        } else if (op == "take") {
            // gid-index entries from..to naming a group "X"
            const int from = num(next());
            const int to = num(next());
            int r = 0;
            for (int gid = from; gid <= to && r == 0; ++gid) {
                char k[16];
                snprintf(k, sizeof k, "%06d", gid);
                r = VEXABDbSet(gDb->pGRPGID, k, 7, "X", 2);
            }
            say(result("take", r));
        } else if (op == "free") {
            say(result("free", VEXAGroupGetFreeGid(gDb)));
        } else if (op == "set") {
            const std::string old = next();
            const std::string name = next();
            const int gid = num(next());
            Record rec(name, gid, next());
            const std::string k = old == "-" ? "" : key(old);
            say(result("set", VEXAGroupDBSet(gDb, old == "-" ? nullptr : k.c_str(), static_cast<int>(k.size()), &rec.g)));
        } else if (op == "del") {
            const std::string k = key(next());
            say(result("del", VEXAGroupDBDelete(gDb, k.c_str(), static_cast<int>(k.size()))));
        } else if (op == "dump") {
            say(result("dump", VEXAGroupDBDump(gDb)));
        } else if (op == "dumpfull") {
            // the disk fills while the description file is written
            failcall::Armed armed({.call = failcall::Call::Write, .pathPrefix = "/etc/group_desc", .err = ENOSPC});
            const int r = VEXAGroupDBDump(gDb);
            say(result("dumpfull", r) + " fired=" + std::to_string(failcall::Fired()));
        } else if (op == "valid") {
            // the cleaned list, with the group database when one is open
            VEXAUSERDB *u = VEXAUserDBOpen();
            char *buf = nullptr;
            int cb = 0;
            const int r = VEXAUserGetValidUserList2(next().c_str(), &buf, &cb, gDb, u);
            say(r == 0 ? "valid [" + std::string(buf) + "]" : result("valid", r));
            free(buf);
            VEXAUserDBClose(u);
        } else if (op == "valid1") {
            std::vector<std::string> v = items(next());
            std::vector<const char *> argv;
            for (const std::string &s : v)
                argv.push_back(s.c_str());
            argv.push_back(nullptr);
            char *buf = nullptr;
            int cb = 0;
            const int r = VEXAUserGetValidUserList(argv.data(), &buf, &cb);
            say(r == 0 ? "valid1 [" + std::string(buf) + "]" : result("valid1", r));
            free(buf);
        } else if (op == "modify") {
            const std::string list = next();
            VRALSzHash *map = VRALSzHashAlloc(512);
            for (const std::string &pair : items(next())) {
                const size_t eq = pair.find('=');
                VRALSzHashSetValue(&map, key(pair.substr(0, eq)).c_str(), pair.substr(eq + 1).c_str());
            }
            char *out = nullptr;
            int cb = 0;
            const int r = VEXAUserModifyListConfig(list.c_str(), &out, &cb, map);
            say(result("modify", r) + " [" + (r >= 0 ? out : "") + "]" + (r == 0 && out == list.c_str() ? " same" : "") +
                " " + std::to_string(cb));
            if (r == 1)
                free(out);
            VRALSzHashFree(map);
        } else if (op == "gget") {
            VEXAGROUP *g = nullptr;
            const int r = VEXAGroupGet(next().c_str(), &g);
            say(r == 0 ? "gget " + fields(g) : result("gget", r));
            VEXAGroupFree(g);
        } else if (op == "gset") {
            const std::string old = next();
            const std::string name = next();
            const int gid = num(next());
            Record rec(name, gid, next());
            const int r = VEXAGroupSet(orNull(old), &rec.g);
            say(result("gset", r) + " gid=" + std::to_string(rec.g.gid));
        } else if (op == "namevalid") {
            const std::string n = next();
            say("namevalid " + std::to_string(VEXAGroupNameIsValid(n.c_str())));
        } else if (op == "alloc2") {
            // members dropped by the packer, then a name inside the block
            Record rec("grp", 70000, "nobody,,alice");
            VEXAGROUP *g = nullptr;
            const int r = VEXAGroupAlloc2(&g, "grp", 70000, rec.argv.data());
            say(r == 0 ? "alloc2 " + fields(g) : result("alloc2", r));
            say(result("alloc2", VEXAGroupAlloc2(&g, g->szName, 1, rec.argv.data())));
            VEXAGroupFree(g);
        } else if (op == "replace") {
            const std::string list = next();
            const std::string from = next();
            const std::string to = next();
            char *out = nullptr;
            const int r = ReplaceGrpInString(list.c_str(), &out, from.c_str(), to.c_str());
            say(result("replace", r) + " [" + (r >= 0 ? out : "") + "]" + (r == 0 && out == list.c_str() ? " same" : ""));
            if (r == 1)
                free(out);
        } else if (op == "sdb") {
            VEXASHAREDB *s = VEXAShareDBOpen();
            say(s != nullptr ? "sdb ok" : "sdb null " + hex(VRALErrGet()));
            VEXAShareDBClose(s);
        } else if (op == "corruptshare") {
            // a stored share record its reader refuses
            const std::string k = key(next());
            VEXASHAREDB *s = VEXAShareDBOpen();
            const int r = s != nullptr ? VEXABDbSet(s->pShareDB, k.c_str(), static_cast<int>(k.size()) + 1, "bad", 3) : -1;
            say(result("corruptshare", r));
            VEXAShareDBClose(s);
        } else if (op == "share") {
            VEXASHARE *s = nullptr;
            const int r = VEXAShareGet(next().c_str(), &s);
            auto str = [](const char *p) { return std::string(p != nullptr ? p : ""); };
            say(r == 0 ? "share " + str(s->szName) + " i=" + str(s->szInvalidUsers) + " w=" + str(s->szWriteList) +
                             " r=" + str(s->szReadList)
                       : result("share", r));
            VEXAShareFree(s);
        } else if (op == "lock") {
            say(result("lock", VRALFileLock(num(next()), 0)));
        } else if (op == "unlock") {
            say(result("unlock", VRALFileUnlock(num(next()))));
        } else if (op == "flocktry") {
            // whether a second process can take the lock file exclusively
            const std::string path = next();
            fflush(stdout);
            const pid_t pid = fork();
            if (pid == 0) {
                FILE *f = fopen(path.c_str(), "r");
                _exit(f == nullptr ? 2 : flock(fileno(f), LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
            }
            int status = -1;
            waitpid(pid, &status, 0);
            say("flocktry " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1));
        } else {
            return 92;
        }
    }
    VEXAGroupDBClose(gDb);
    return 0;
}

VEXATEST_ROOT_PROBE(probe)

using GroupDb = grouptest::GroupRoot;

TEST_F(GroupDb, BuildFiltersMembersAndKeepsTheFileFields)
{
    EXPECT_EQ(run({"db", "get", "staff", "get", "SMMSP", "get", "users", "get", "root", "get", "nope", "curgid"}),
              (Lines{"db ok", "get staff:x:65540:Anna,admin = staff|65540|Anna,admin|1",
                     "get smmsp:x:25:admin = smmsp|25|admin|1", "get users:x:100:admin,Anna = users|100|admin,Anna|1",
                     "get root:x:0: = root|0||1", "get -1 0x2000", "curgid 70000"}));
    EXPECT_EQ(sh("stat -c '%n %a %u' /tmp/.db.group.*.0832"),
              "/tmp/.db.group.desc.0832 644 0\n/tmp/.db.group.id.0832 644 0\n/tmp/.db.group.name.0832 644 0\n");
}

TEST_F(GroupDb, WalkYieldsApplianceGroupsUsersAndDomainGroups)
{
    domainMode();
    app.writeFile("/usr/vexa/etc/private/domain_user", "DOM\\bob:S-1-5\n");
    app.writeFile("/usr/vexa/etc/private/domain_group",
                  "DOM\\admins:S-1-5-21\nno colon\nDOM\\a:b:S-1\n#hidden:S-1\nDOM\\" + std::string(300, 'x') + ":S\n");
    // a walk starts at the first key of a freshly opened handle
    EXPECT_EQ(run({"db", "walk", "3", "0", "db", "walk", "1", "1", "db", "walk", "2", "0", "get", "DOM\\admins"}),
              (Lines{"db ok", "walk DOM\\admins staff users 0xB500", "db ok", "walk root smmsp staff users 0xB500",
                     "db ok", "walk DOM\\admins 0xB500", "get DOM\\admins:x:-1: = DOM\\admins|-1||2"}));
    EXPECT_FALSE(app.exists("/var/log/vexalogset1.args"));

    // without the list the local groups load, and the event is recorded
    sh("rm -f /tmp/.db.group.* /usr/vexa/etc/private/domain_group");
    EXPECT_EQ(run({"db", "walk", "3", "0"}), (Lines{"db ok", "walk staff users 0xB500"}));
    EXPECT_EQ(app.readFile("/var/log/vexalogset1.args"), "sys err 0x1180050A\n");
}

TEST_F(GroupDb, BuildRefusesBadLines)
{
    struct Case {
        const char *name;
        std::string group;
        std::string desc;
        const char *want;
    };
    const Case cases[] = {
        {.name = "short line skipped", .group = grouptest::baseGroup() + "odd:x\n", .desc = "", .want = "db ok"},
        {.name = "gid 0 accepted", .group = grouptest::baseGroup() + "wheel:x:0:\n", .desc = "", .want = "db ok"},
        {.name = "empty gid", .group = grouptest::baseGroup() + "bad:x::\n", .desc = "", .want = "db null 0x0900"},
        {.name = "gid no number", .group = grouptest::baseGroup() + "bad:x:ab:\n", .desc = "", .want = "db null 0x0900"},
        {.name = "name without key form", .group = grouptest::baseGroup() + "b\xff:x:70001:\n", .desc = "",
         .want = "db null 0x0900"},
        {.name = "group member", .group = grouptest::baseGroup() + "g:x:70001:@users\n", .desc = "",
         .want = "db null 0x0900"},
        {.name = "no gid anywhere", .group = "#$_@GID__INDEX@_$5000$\n", .desc = "", .want = "db null 0x0900"},
        {.name = "desc without colon", .group = grouptest::baseGroup(), .desc = "nocolon\nstaff:x\n", .want = "db ok"},
    };
    for (const Case &c : cases) {
        writeGroups(c.group, c.desc);
        sh("rm -f /tmp/.db.group.*");
        EXPECT_EQ(run({"db"}), (Lines{c.want})) << c.name;
        // nothing half-built is left for the next open
        if (std::string(c.want) != "db ok") {
            EXPECT_EQ(sh("ls -a /tmp | grep db.group | grep -v lock; true"), "") << c.name;
        }
    }
    // a missing description file fails the build
    sh("rm -f /tmp/.db.group.* /etc/group_desc");
    EXPECT_EQ(run({"db"}), (Lines{"db null 0x0900"}));
}

TEST_F(GroupDb, CurrentGidFromTheHeaderOrTheHighestGid)
{
    struct Case {
        const char *name;
        std::string header;
        const char *want;
    };
    const Case cases[] = {
        {.name = "in range", .header = "#$_@GID__INDEX@_$70000$\n", .want = "curgid 70000"},
        {.name = "out of range", .header = "#$_@GID__INDEX@_$5000$\n", .want = "curgid 65540"},
        {.name = "none", .header = "", .want = "curgid 65540"},
    };
    for (const Case &c : cases) {
        std::string g = grouptest::baseGroup();
        g = c.header + g.substr(g.find('\n') + 1);
        writeGroups(g, grouptest::baseDesc());
        sh("rm -f /tmp/.db.group.*");
        EXPECT_EQ(run({"db", "curgid"}), (Lines{"db ok", c.want})) << c.name;
    }
}

TEST_F(GroupDb, NameRuleAndPacking)
{
    struct Case {
        const char *name;
        const char *want;
    };
    const Case cases[] = {
        {.name = "fifteen_chars_x", .want = "namevalid 1"}, {.name = "sixteen_chars_xx", .want = "namevalid 0"},
        {.name = "-lead", .want = "namevalid 0"},         {.name = " lead", .want = "namevalid 0"},
        {.name = "trail ", .want = "namevalid 0"},        {.name = "a b.c-d_e", .want = "namevalid 1"},
        {.name = "a@b", .want = "namevalid 0"},           {.name = "a:b", .want = "namevalid 0"},
        {.name = "", .want = "namevalid 0"},              {.name = "gr\xc3\xbcne", .want = "namevalid 1"},
    };
    Lines ops;
    Lines want;
    for (const Case &c : cases) {
        ops.insert(ops.end(), {"namevalid", c.name});
        want.push_back(c.want);
    }
    ops.push_back("alloc2");
    want.insert(want.end(), {"alloc2 grp|70000|alice|1", "alloc2 -1 0x0D00"});
    EXPECT_EQ(run(ops), want);
}

TEST_F(GroupDb, ExistsCopiesTheStoredName)
{
    EXPECT_EQ(run({"db", "exists", "STAFF", "6", "exists", "staff", "5", "exists", "nope", "64"}),
              (Lines{"db ok", "exists 1 staff", "exists 0 ", "exists 0 "}));
}

TEST_F(GroupDb, SetIsRebuiltWhenAFileChanges)
{
    EXPECT_EQ(run({"db", "get", "crew"}), (Lines{"db ok", "get -1 0x2000"}));
    app.writeFile("/etc/group", grouptest::baseGroup() + "crew:x:70002:gone\n", 0644);
    EXPECT_EQ(run({"db", "get", "crew"}), (Lines{"db ok", "get crew:x:70002:gone = crew|70002|gone|1"}));
    app.writeFile("/etc/group_desc", "crew:the crew\n", 0644);
    EXPECT_EQ(run({"db", "dump"}), (Lines{"db ok", "dump 0"}));
    EXPECT_EQ(app.readFile("/etc/group_desc"), "crew:the crew\n");
}

}  // namespace
