#include <sys/file.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/err/err_guard.h"
#include "base/lock/lock_holder.h"
#include "base/unicode/vral_unicode.h"
#include "base/string/heap_ptr.h"
#include "services/group/group_internal.h"
#include "services/share/share_internal.h"

namespace {

struct GroupDbOwner {
    VEXAGROUPDB *db = VEXAGroupDBOpen();
    ~GroupDbOwner() { VEXAGroupDBClose(db); }
};

// Opened only for a rename: no close of a NULL handle overwrites the
// failing step's code.
struct ShareDbOwner {
    VEXASHAREDB *db = nullptr;
    ~ShareDbOwner()
    {
        // a NULL close records a code of its own
        if (db != nullptr)
            VEXAShareDBClose(db);
    }
};

// One share's lists after the rename; the record as read stays for the rest.
struct Changed {
    vral::HeapPtr<VEXASHARE> share;
    std::string lists[3];
};

// The list with "@old" at an item's start renamed: 1 changed, 0, -1.
int replaced(const char *list, const char *oldGroup, const char *newGroup, std::string *out)
{
    const char *from = list != nullptr ? list : "";
    char *p = nullptr;
    const int r = ReplaceGrpInString(from, &p, oldGroup, newGroup);
    if (r < 0) {
        VRAL_LOG_ERR("ReplaceGrpInString fail VEXAErr=[0x%04X]", VRALErrGet());
        return -1;
    }
    *out = p;
    if (r == 1)
        free(p);
    return r;
}

// Carries a group's rename into every share's three user lists through the
// share cache opened before the group was written (built after it, the
// cache would have dropped every "@old" as an unknown group).  The shares
// are all read before any is stored.
int carryRename(VEXASHAREDB *sdb, const char *oldGroup, const char *newGroup)
{
    std::vector<Changed> changed;
    int seen = 0;
    VEXABDbCursorSetType(sdb->pShareDB, BDB_CURSOR_FIRST);
    for (;;) {
        VEXASHARE *s = nullptr;
        const int r = VEXAShareDBCursorGet(sdb, &s);
        VEXABDbCursorSetType(sdb->pShareDB, BDB_CURSOR_NEXT);
        vral::HeapPtr<VEXASHARE> own(s);
        if (r != 0) {
            if (VRALErrGet() == ERR_END_OF_RECORDS)
                break;
            return -1;
        }
        ++seen;
        Changed c;
        int n = 0;
        char *VEXASHARE::*const fields[3] = {&VEXASHARE::szInvalidUsers, &VEXASHARE::szWriteList,
                                             &VEXASHARE::szReadList};
        for (int i = 0; i < 3; ++i) {
            const int rr = replaced(s->*fields[i], oldGroup, newGroup, &c.lists[i]);
            if (rr < 0)
                return -1;
            n += rr;
        }
        if (n > 0) {
            c.share = std::move(own);
            changed.push_back(std::move(c));
        }
    }
    for (Changed &c : changed) {
        VEXASHARE t = *c.share;
        t.szInvalidUsers = c.lists[0].data();
        t.szWriteList = c.lists[1].data();
        t.szReadList = c.lists[2].data();
        if (VEXAShareDBSet(sdb, c.share->szName, &t) != 0) {
            VRAL_LOG_ERR("VEXAShareDBSet failed. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
    }
    // sections kept as read hold names too
    const int kept = vexashare::keptRenameGroup(sdb, oldGroup, newGroup);
    if (kept < 0) {
        VRAL_LOG_ERR("renaming the group in kept sections failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if ((seen > 0 || kept > 0) && VEXAShareDBDump(sdb) != 0) {
        VRAL_LOG_ERR("VEXAShareDBDump failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    return 0;
}

int setLocked(const char *oldName, VEXAGROUP *pGroup)
{
    GroupDbOwner g;
    if (g.db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    VEXAGROUPDB *db = g.db;
    char NAME[vexagroup::kLookupKeySize];
    const int len = vexauser::keyForm(pGroup->szName, NAME, sizeof NAME);
    if (len < 0) {
        VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed, str=%s.", pGroup->szName);
        VRAL_ERR_SET(pGroup->szName[0] == '\0' ? ERR_BAD_PARAMETERS : ERR_BAD_GROUP_NAME);
        return -1;
    }
    const bool exists = VEXAGroupDBCheckExists(db, NAME, len, nullptr, 0) == 1;
    const bool sameName = oldName != nullptr && VRALUnicodeUTF8StrCaseCmp(oldName, pGroup->szName) == 0;
    if (!sameName && exists) {
        VRAL_ERR_SET(ERR_GROUP_EXISTS);
        return -1;
    }
    if (sameName && !exists) {
        VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
        return -1;
    }
    char OLDNAME[vexagroup::kLookupKeySize] = "";
    char storedOld[vexagroup::kLookupKeySize] = "";
    int oldLen = 0;
    if (oldName != nullptr) {
        oldLen = vexauser::keyForm(oldName, OLDNAME, sizeof OLDNAME);
        if (oldLen < 0) {
            VRAL_LOG_ERR("VRALUnicodeUTF8StrUpper failed, str=%s.", oldName);
            VRAL_ERR_SET(oldName[0] == '\0' ? ERR_BAD_PARAMETERS : ERR_GROUP_NOT_FOUND);
            return -1;
        }
        if (VEXAGroupDBCheckExists(db, OLDNAME, oldLen, storedOld, sizeof storedOld) != 1) {
            VRAL_ERR_SET(ERR_GROUP_NOT_FOUND);
            return -1;
        }
    }
    // a change of name, of case too, goes into the shares' lists
    ShareDbOwner shares;
    const bool carried = oldName != nullptr && strcmp(storedOld, pGroup->szName) != 0;
    if (carried) {
        shares.db = VEXAShareDBOpen();
        if (shares.db == nullptr) {
            vexabdb::cacheOpenFailed();
            return -1;
        }
    }
    const bool allocated = pGroup->gid == -1;
    if (allocated) {
        pGroup->gid = VEXAGroupGetFreeGid(db);
        if (pGroup->gid < 0) {
            pGroup->gid = -1;
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
    }
    if (VEXAGroupDBSet(db, oldName != nullptr ? OLDNAME : nullptr, oldLen, pGroup) != 0) {
        VRAL_LOG_ERR("VEXAGroupDBSet failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (allocated && vexagroup::storeCurrentGid(db, pGroup->gid) != 0) {
        // the group is in the cache but not in the files: rebuilt at the next open
        vexabdb::cacheMarkStale(vexagroup::kGroupSet, db);
        return -1;
    }
    if (VEXAGroupDBDump(db) != 0) {
        VRAL_LOG_ERR("VEXAGroupDBDump failed. vexaerr=0x%04X", VRALErrGet());
        return -1;
    }
    if (carried && carryRename(shares.db, storedOld, pGroup->szName) != 0) {
        VRAL_LOG_ERR("Rename group in smb.conf failed.");
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAGroupSet(const char *oldName, VEXAGROUP *pGroup)
{
    return vral::NoThrow(-1, [&] {
        if (pGroup == nullptr || pGroup->szName == nullptr || pGroup->ppszMember == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        // only locks taken here are released: a caller's hold stays
        vral::LockHolder lock(LOCK_ID_PW | LOCK_ID_GR | LOCK_ID_SMB | LOCK_EX | LOCK_NB, 5);
        if (!lock.held())
            return -1;
        return lock.release(setLocked(oldName, pGroup));
    });
}
