#include <cstring>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int delFailed()
{
    return vexabdb::callFailed("del", ERR_DB_DEL_FAILED, true);
}

}  // namespace

namespace {

int bDbDelete(VEXABDB *h, const void *key, int klen)
{
    if (h == nullptr || h->pDB == nullptr || key == nullptr || klen <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    DBT k{const_cast<void *>(key), static_cast<size_t>(klen)};
    const int r = h->pDB->del(h->pDB, &k, 0);
    if (r == 1) {
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return -1;
    }
    return r == 0 ? 0 : delFailed();
}

}  // namespace

extern "C" int VEXABDbDelete(VEXABDB *h, const void *key, int klen)
{
    return vral::NoThrow(-1, [&] { return bDbDelete(h, key, klen); });
}

namespace {

int bDbDeleteDup(VEXABDB *h, const void *key, int klen, const void *data, int dlen)
{
    if (h == nullptr || h->pDB == nullptr || key == nullptr || klen <= 0 || data == nullptr || dlen <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // Walk the key's records from the first one and drop the matching one.
    DBT k{const_cast<void *>(key), static_cast<size_t>(klen)};
    DBT v{};
    int r = h->pDB->seq(h->pDB, &k, &v, R_CURSOR);
    while (r == 0 && k.size == static_cast<size_t>(klen) && memcmp(k.data, key, k.size) == 0) {
        if (v.size == static_cast<size_t>(dlen) && memcmp(v.data, data, v.size) == 0)
            return h->pDB->del(h->pDB, &k, R_CURSOR) == 0 ? 0 : delFailed();
        r = h->pDB->seq(h->pDB, &k, &v, R_NEXT);
    }
    if (r < 0)
        return vexabdb::callFailed("seq", ERR_DB_GET_FAILED, false);
    VRAL_ERR_SET(ERR_NOT_FOUND);
    return -1;
}

}  // namespace

extern "C" int VEXABDbDeleteDup(VEXABDB *h, const void *key, int klen, const void *data, int dlen)
{
    return vral::NoThrow(-1, [&] { return bDbDeleteDup(h, key, klen, data, dlen); });
}
