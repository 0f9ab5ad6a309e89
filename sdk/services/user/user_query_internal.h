// Pieces the user readers share: the shared read lock with the database
// opened under it, and the walk of the name file.
#ifndef VEXA_USER_QUERY_INTERNAL_H
#define VEXA_USER_QUERY_INTERNAL_H

#include <sys/file.h>

#include <cstdlib>
#include <cstring>

#include "base/lock/lock_holder.h"
#include "services/account/vexa_account.h"
#include "services/user/user_internal.h"
#include "services/user/vexa_user_query.h"

namespace vexauser {

// LOCK_ID_PW shared and the user database, for one read.  Only a lock
// taken here is released, so a caller's own hold stays.
class SharedRead {
public:
    SharedRead() : lock_(LOCK_ID_PW | LOCK_SH | LOCK_NB, 5)
    {
        if (!lock_.held()) {
            VRAL_ERR_SET(ERR_LOCK_FAILED);
            return;
        }
        db_ = VEXAUserDBOpen();
        if (db_ == nullptr)
            vexabdb::cacheOpenFailed();
    }
    ~SharedRead() { (void)finish(0); }
    SharedRead(const SharedRead &) = delete;
    SharedRead &operator=(const SharedRead &) = delete;

    VEXAUSERDB *db() const { return db_; }
    // Closes and releases: r, or -1 (ERR_UNLOCK_FAILED) when the release
    // fails.  The code of a failed r stays in the error state.
    int finish(int r)
    {
        VEXAUserDBClose(db_);
        db_ = nullptr;
        return lock_.release(r);
    }

private:
    vral::LockHolder lock_;
    VEXAUSERDB *db_ = nullptr;
};

// Frees two growable buffers of the SDK's own at scope end.
struct FreeBoth {
    char *&a;
    char *&b;
    ~FreeBoth()
    {
        free(a);
        free(b);
    }
};

// One record of the name file, cut at its colons.
struct NameRecord {
    bool domain;      // the key holds a backslash
    const char *name; // the passwd line's spelling, NUL-ended here
    long uid;
    long gid;
};

// Whether a listing leaves the user out: local uids below 1024 read
// unsigned (so every uid 0), and the guest while guest support is off.
inline bool hiddenUser(const NameRecord &r)
{
    if (r.domain || r.uid == -1)
        return false;
    const unsigned int u = static_cast<unsigned int>(r.uid);
    if (u < USER_UID_FIRST)
        return true;
    return u == USER_UID_GUEST && VEXAGuestSupportGet() == 0;
}

// Calls visit(const NameRecord &) for each record of the name file, marker
// keys and records without name, uid and gid fields skipped; visit returns
// 0 to go on or -1 to stop.  0 at the end, -1 (ERR_ENUM_FAILED when the
// cursor failed otherwise than at the end).
template <typename Visit>
int walkNames(VEXAUSERDB *db, Visit visit)
{
    char *key = nullptr;
    int cbKey = 0;
    char *val = nullptr;
    int cbVal = 0;
    FreeBoth owner{key, val};
    VEXABDbCursorSetType(db->pPWDName, BDB_CURSOR_FIRST);
    for (;;) {
        const int r = VEXABDbCursorGet(db->pPWDName, 1, &key, &cbKey, &val, &cbVal);
        VEXABDbCursorSetType(db->pPWDName, BDB_CURSOR_NEXT);
        if (r != 0) {
            if (VRALErrGet() == ERR_END_OF_RECORDS)
                return 0;
            VRAL_ERR_SET(ERR_ENUM_FAILED);
            return -1;
        }
        if (cbVal <= 0 || memchr(val, '\0', static_cast<size_t>(cbVal)) == nullptr)
            continue;
        char *c1 = strchr(val, ':');
        char *c2 = c1 != nullptr ? strchr(c1 + 1, ':') : nullptr;
        char *c3 = c2 != nullptr ? strchr(c2 + 1, ':') : nullptr;
        if (c3 == nullptr)
            continue;
        *c1 = '\0';
        NameRecord rec{memchr(key, '\\', static_cast<size_t>(cbKey)) != nullptr, val, strtol(c2 + 1, nullptr, 10),
                       strtol(c3 + 1, nullptr, 10)};
        if (visit(rec) != 0)
            return -1;
    }
}

}  // namespace vexauser

#endif
