#include <cstdlib>
#include <cstring>

#include "base/string/heap_ptr.h"
#include "services/share/share_internal.h"
#include "services/user/user_internal.h"

namespace {

// The key form of a share name; a name without one is no share name.
int shareKey(const char *name, char (&key)[SHARE_KEY_SIZE])
{
    const int len = vexauser::keyForm(name, key, sizeof key);
    if (len < 0)
        VRAL_ERR_SET(ERR_BAD_SHARE_NAME);
    return len;
}

}  // namespace

// Everything is formed before the cache changes; the new record is stored
// before the old one goes, so a failure never loses the share.
namespace {

int shareDBSet(VEXASHAREDB *db, const char *oldName, const VEXASHARE *pShare)
{
    if (db == nullptr || db->pShareDB == nullptr || pShare == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    vral::HeapPtr<VEXASHARE> copy(VEXAShareAlloc(pShare));
    if (!copy)
        return -1;
    int cbStored = 0;
    vral::HeapPtr<void> stored(VEXAShareDBPack(copy.get(), &cbStored));
    if (!stored)
        return -1;
    char key[SHARE_KEY_SIZE];
    const int len = shareKey(copy->szName, key);
    if (len < 0)
        return -1;
    char oldKey[SHARE_KEY_SIZE];
    int oldLen = -1;
    if (oldName != nullptr && (oldLen = shareKey(oldName, oldKey)) < 0)
        return -1;
    const bool renamed = oldLen >= 0 && (oldLen != len || memcmp(oldKey, key, static_cast<size_t>(len)) != 0);
    // a new share, or a rename, never replaces another share
    if ((oldName == nullptr || renamed) && VEXAShareDBCheckExists(db, key, len, nullptr, 0) == 1) {
        VRAL_ERR_SET(ERR_SHARE_EXISTS);
        return -1;
    }
    if (VEXABDbSet(db->pShareDB, key, len + 1, stored.get(), cbStored) != 0)
        return -1;
    if (renamed && VEXABDbDelete(db->pShareDB, oldKey, oldLen + 1) != 0 && VRALErrGet() != ERR_NOT_FOUND) {
        // both names stand now: no dump may take the cache as it is
        vexabdb::cacheMarkStale(vexashare::kShareSet, db);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAShareDBSet(VEXASHAREDB *db, const char *oldName, const VEXASHARE *pShare)
{
    return vexabdb::cacheWriteGuarded(vexashare::kShareSet, db, [&] { return shareDBSet(db, oldName, pShare); });
}
