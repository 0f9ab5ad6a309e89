// Pieces the user readers share: the shared read lock with the database
// opened under it, and the walk of the name file.
#ifndef VEXA_USER_QUERY_INTERNAL_H
#define VEXA_USER_QUERY_INTERNAL_H

#include <sys/file.h>

#include <cstdlib>
#include <cstring>

#include "base/lock/lock_holder.h"
#include "services/account/vexa_account.h"
#include "services/bdb/bdb_internal.h"
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
    bool domain;       // the key holds a backslash
    const char *name;  // the passwd line's spelling, NUL-ended
    size_t nameLen;
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

// strtol of an id field, with the usual field (a few digits ended by ":")
// read directly.
inline long idField(const char *p)
{
    long v = 0;
    int n = 0;
    for (; n < 9 && p[n] >= '0' && p[n] <= '9'; ++n)
        v = v * 10 + (p[n] - '0');
    if (n > 0 && p[n] == ':')
        return v;
    return strtol(p, nullptr, 10);
}

// Calls visit(const NameRecord &) for each record of the name file, marker
// keys and records without name, uid and gid fields skipped; visit returns
// 0 to go on or -1 to stop.  0 at the end, -1 (ERR_ENUM_FAILED when the
// cursor failed otherwise than at the end).  Records are read where the
// library holds them; only the name is copied, to end it with a NUL.
template <typename Visit>
int walkNames(VEXAUSERDB *db, Visit visit)
{
    char *name = nullptr;
    size_t cbName = 0;
    struct Owner {
        char *&p;
        ~Owner() { free(p); }
    } owner{name};
    VEXABDB *h = db->pPWDName;
    if (h == nullptr || h->pDB == nullptr) {
        VRAL_ERR_SET(ERR_ENUM_FAILED);
        return -1;
    }
    h->cursorType = BDB_CURSOR_FIRST;
    for (;;) {
        DBT k{};
        DBT v{};
        const int r = vexabdb::cursorStep(h, 1, &k, &v);
        h->cursorType = BDB_CURSOR_NEXT;
        if (r != 0) {
            if (VRALErrGet() == ERR_END_OF_RECORDS)
                return 0;
            VRAL_ERR_SET(ERR_ENUM_FAILED);
            return -1;
        }
        const char *val = static_cast<const char *>(v.data);
        if (v.size == 0 || (val[v.size - 1] != '\0' && memchr(val, '\0', v.size) == nullptr))
            continue;
        const char *c1 = strchr(val, ':');
        const char *c2 = c1 != nullptr ? strchr(c1 + 1, ':') : nullptr;
        const char *c3 = c2 != nullptr ? strchr(c2 + 1, ':') : nullptr;
        if (c3 == nullptr)
            continue;
        const size_t len = static_cast<size_t>(c1 - val);
        if (len + 1 > cbName) {
            char *p = static_cast<char *>(realloc(name, len + 1));
            if (p == nullptr) {
                VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
                return -1;
            }
            name = p;
            cbName = len + 1;
        }
        memcpy(name, val, len);
        name[len] = '\0';
        NameRecord rec{memchr(k.data, '\\', k.size) != nullptr, name, len, idField(c2 + 1), idField(c3 + 1)};
        if (visit(rec) != 0)
            return -1;
    }
}

}  // namespace vexauser

#endif
