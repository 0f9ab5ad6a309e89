#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/share/vexa_share.h"
#include "services/user/user_query_internal.h"

namespace {

int userPushDUser(const char *name, VRALSzList **ppList, VRALSzHash **ppSeen)
{
    if (name == nullptr || ppList == nullptr || ppSeen == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (strchr(name, '\\') == nullptr || SzVRALSzHashGetValue(*ppSeen, name) != nullptr)
        return 0;
    if (VRALSzHashSetValue(ppSeen, name, name) < 0) {
        VRAL_LOG_ERR("HashSetValue %s fail", name);
        return -1;
    }
    if (VRALSzListPush(ppList, name) < 0) {
        VRAL_LOG_ERR("ListPush %s fail", name);
        return -1;
    }
    return 1;
}

}  // namespace

extern "C" int UserPushDUser(const char *name, VRALSzList **ppList, VRALSzHash **ppSeen)
{
    return vral::NoThrow(-1, [&] { return userPushDUser(name, ppList, ppSeen); });
}

namespace {

struct Work {
    VRALSzList *tokens = PslVRALSzListAlloc(512);
    VRALSzList *members = PslVRALSzListAlloc(512);
    VRALSzHash *seen = VRALSzHashAlloc(512);
    VEXASHARE *share = nullptr;
    ~Work()
    {
        VRALSzListFree(tokens);
        VRALSzListFree(members);
        VRALSzHashFree(seen);
        VEXAShareFree(share);
    }
};

// Pushes each member; the count, or -1.
int pushAll(Work &w, VRALSzList **ppList)
{
    int n = 0;
    for (int i = 0; i < w.members->nItem; ++i) {
        const int r = UserPushDUser(VRALSzListItem(w.members, i), ppList, &w.seen);
        if (r < 0)
            return -1;
        n += r;
    }
    return n;
}

}  // namespace

namespace {

int userPushDUserUsed(VRALSzList **ppList)
{
    if (ppList == nullptr || *ppList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VEXASHAREDB *db = VEXAShareDBOpen();
    if (db == nullptr) {
        vexabdb::cacheOpenFailed();
        return -1;
    }
    struct Close {
        VEXASHAREDB *db;
        ~Close() { VEXAShareDBClose(db); }
    } closer{db};
    Work w;
    if (w.tokens == nullptr || w.members == nullptr || w.seen == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    int n = 0;
    VEXABDbCursorSetType(db->pShareDB, BDB_CURSOR_FIRST);
    for (;;) {
        const int rc = VEXAShareDBCursorGet(db, &w.share);
        VEXABDbCursorSetType(db->pShareDB, BDB_CURSOR_NEXT);
        if (rc != 0) {
            if (VRALErrGet() == ERR_END_OF_RECORDS)
                return n;
            VRAL_LOG_ERR("VEXAShareDBCursorGet() error. vexaerr=0x%04X", VRALErrGet());
            return -1;
        }
        VRALSzListClear(w.tokens);
        if (VRALStrSep(w.share->szWriteList != nullptr ? w.share->szWriteList : "", ",", &w.tokens) < 0) {
            VRAL_LOG_ERR("VRALStrSep failed");
            return -1;
        }
        for (int i = 0; i < w.tokens->nItem; ++i) {
            const char *tok = VRALSzListItem(w.tokens, i);
            int r;
            if (tok[0] != '@') {
                r = UserPushDUser(tok, ppList, &w.seen);
            } else {
                VRALSzListClear(w.members);
                // Every domain user is then named: nothing more to find.
                const bool everyDomainUser = strstr(tok + 1, "\\domain users") != nullptr;
                if (everyDomainUser)
                    r = VEXAUserEnum(&w.members, USER_KIND_DOMAIN);
                else
                    r = VEXAGroupListMember(tok + 1, &w.members);
                if (r >= 0)
                    r = pushAll(w, ppList);
                if (r >= 0 && everyDomainUser)
                    return n + r;
            }
            if (r < 0)
                return -1;
            n += r;
        }
    }
}

}  // namespace

extern "C" int VEXAUserPushDUserUsed(VRALSzList **ppList)
{
    return vral::NoThrow(-1, [&] { return userPushDUserUsed(ppList); });
}
