#include <cstdlib>
#include <string>
#include <vector>

#include "base/string/heap_ptr.h"
#include "services/share/share_internal.h"
#include "services/user/user_set_internal.h"
#include "services/user/vexa_user_list.h"

namespace {

struct ShareDb {
    VEXASHAREDB *db = VEXAShareDBOpen();
    ~ShareDb()
    {
        // a NULL close records a code of its own
        if (db != nullptr)
            VEXAShareDBClose(db);
    }
};

// A share whose lists the map changes: the record as read and its lists.
struct Changed {
    vral::HeapPtr<VEXASHARE> share;
    std::string lists[3];
};

// One list after the rename: 1 changed (*out the new text), 0, -1.
int renamed(const char *list, VRALSzHash *map, std::string *out)
{
    char *p = nullptr;
    int cb = 0;
    const int r = VEXAUserModifyListConfig(list != nullptr ? list : "", &p, &cb, map);
    if (r == 1) {
        *out = p;
        free(p);
    }
    return r;
}

// Reads every share first, so that storing one never moves the walk.
int collect(VEXASHAREDB *db, VRALSzHash *map, std::vector<Changed> &changed, int *pSeen)
{
    vexauser::SeenNames seen;
    if (!seen.ok()) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    for (;;) {
        VEXASHARE *s = nullptr;
        const int rc = VEXAShareDBCursorGet(db, &s);
        vral::HeapPtr<VEXASHARE> share(s);
        if (rc != 0) {
            if (VRALErrGet() == ERR_END_OF_RECORDS)
                return 0;
            VRAL_LOG_ERR("VEXAShareDBCursorGet() error. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        const int isFirst = seen.first(s->szName);
        if (isFirst <= 0) {
            if (isFirst < 0)
                return -1;
            continue;
        }
        ++*pSeen;
        Changed c;
        char *VEXASHARE::*const fields[3] = {&VEXASHARE::szInvalidUsers, &VEXASHARE::szWriteList,
                                             &VEXASHARE::szReadList};
        bool any = false;
        for (int i = 0; i < 3; ++i) {
            const int r = renamed(s->*fields[i], map, &c.lists[i]);
            if (r < 0)
                return -1;
            if (r == 0)
                c.lists[i] = s->*fields[i] != nullptr ? s->*fields[i] : "";
            any = any || r == 1;
        }
        if (any) {
            c.share = std::move(share);
            changed.push_back(std::move(c));
        }
    }
}

int modify(VRALSzHash *map)
{
    ShareDb sdb;
    if (sdb.db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    std::vector<Changed> changed;
    int seen = 0;
    if (collect(sdb.db, map, changed, &seen) != 0)
        return -1;
    for (Changed &c : changed) {
        VEXASHARE t = *c.share;
        t.szInvalidUsers = c.lists[0].data();
        t.szWriteList = c.lists[1].data();
        t.szReadList = c.lists[2].data();
        if (VEXAShareDBSet(sdb.db, c.share->szName, &t) != 0) {
            VRAL_LOG_ERR("VEXAShareDBSet %s failed. vexaerr=0x%04X", c.share->szName, VRALErrGet());
            return -1;
        }
    }
    // sections kept as read hold names too
    const int kept = vexashare::keptRenameUsers(sdb.db, map);
    if (kept < 0) {
        VRAL_LOG_ERR("renaming users in kept sections failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if ((seen > 0 || kept > 0) && VEXAShareDBDump(sdb.db) != 0) {
        VRAL_LOG_ERR("VEXAShareDBDump failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAUserModifySmbConf(VRALSzHash *map)
{
    return vexauser::withRenameMap(map, [&] { return modify(map); });
}
