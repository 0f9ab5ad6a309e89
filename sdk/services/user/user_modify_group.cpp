#include <string>
#include <vector>

#include "services/group/group_internal.h"
#include "services/user/user_set_internal.h"

namespace {

struct GroupDb {
    VEXAGROUPDB *db = VEXAGroupDBOpen();
    ~GroupDb() { VEXAGroupDBClose(db); }
};

// A group whose members the map changes: its name, gid and new members.
struct Changed {
    std::string name;
    int gid;
    std::vector<std::string> members;
};

// Reads every group first, so that rewriting one never moves the walk.
int collect(VEXAGROUPDB *db, VRALSzHash *map, std::vector<Changed> &changed)
{
    vexauser::SeenNames seen;
    if (!seen.ok()) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    struct Free {
        VEXAGROUP *g = nullptr;
        ~Free() { VEXAGroupFree(g); }
    } own;
    for (;;) {
        const int rc = VEXAGroupDBGetByCursor(db, &own.g, 3, 0);
        if (rc != 0) {
            if (VRALErrGet() == ERR_END_OF_RECORDS)
                return 0;
            VRAL_LOG_ERR("VEXAGroupDBGetByCursor() error. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        const VEXAGROUP *g = own.g;
        char NAME[USER_KEY_SIZE];
        if (vexauser::keyForm(g->szName, NAME, sizeof NAME) < 0) {
            VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper [%s] failed", g->szName);
            return -1;
        }
        const int isFirst = seen.first(NAME);
        if (isFirst <= 0) {
            if (isFirst < 0)
                return -1;
            continue;
        }
        Changed c{g->szName, g->gid, {}};
        bool replaced = false;
        for (char **m = g->ppszMember; m != nullptr && *m != nullptr; ++m) {
            if ((*m)[0] == '\0')
                continue;
            char MEMBER[USER_KEY_SIZE + 1];
            if (vexauser::keyForm(*m, MEMBER, sizeof MEMBER) < 0) {
                VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed, str=%s", *m);
                return -1;
            }
            const char *to = SzVRALSzHashGetValue(map, MEMBER);
            replaced = replaced || to != nullptr;
            if (to == nullptr)
                c.members.emplace_back(*m);
            else if (to[0] != '\0')
                c.members.emplace_back(to);
        }
        if (replaced)
            changed.push_back(std::move(c));
    }
}

// Every changed group is rewritten in place; one that cannot be is logged
// and passed over, so the others still reach the files.  0, or -1 when a
// group was left out.
int modify(VRALSzHash *map)
{
    GroupDb g;
    if (g.db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    std::vector<Changed> changed;
    if (collect(g.db, map, changed) != 0)
        return -1;
    int failedCode = 0;
    int written = 0;
    for (Changed &c : changed) {
        std::vector<char *> members;
        for (std::string &m : c.members)
            members.push_back(m.data());
        members.push_back(nullptr);
        char NAME[USER_KEY_SIZE];
        const int len = vexauser::keyForm(c.name.c_str(), NAME, sizeof NAME);
        if (len < 0 || vexagroup::setMembers(g.db, NAME, len, members.data()) != 0) {
            VRAL_LOG_ERR("VEXAGroupDBSet %s failed. vexaerr=0x%04X", c.name.c_str(), VRALErrGet());
            failedCode = VRALErrGet() != 0 ? VRALErrGet() : ERR_WRITE_FAILED;
            continue;
        }
        ++written;
    }
    if (written > 0 && VEXAGroupDBDump(g.db) != 0) {
        VRAL_LOG_ERR("VEXAGroupDBDump failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (failedCode != 0) {
        VRALErrSetCode(failedCode);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAUserModifyGroup(VRALSzHash *map)
{
    return vexauser::withRenameMap(map, [&] { return modify(map); });
}
