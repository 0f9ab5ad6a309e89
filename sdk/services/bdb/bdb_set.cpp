#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbSet(VEXABDB *h, const void *key, int klen, const void *data, int dlen)
{
    if (h == nullptr || h->pDB == nullptr || key == nullptr || klen <= 0 || data == nullptr || dlen <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    DBT k{const_cast<void *>(key), static_cast<size_t>(klen)};
    // A marker key holds one record, also where duplicates are allowed.
    if (static_cast<const char *>(key)[0] == '#' && h->pDB->del(h->pDB, &k, 0) < 0) {
        VRAL_LOG(LOG_ERR, "errno=%d/%m, db->del failed.", errno);
        return -1;
    }
    DBT v{const_cast<void *>(data), static_cast<size_t>(dlen)};
    if (h->pDB->put(h->pDB, &k, &v, 0) != 0)
        return vexabdb::callFailed("put", ERR_DB_PUT_FAILED, true);
    return 0;
}

}  // namespace

extern "C" int VEXABDbSet(VEXABDB *h, const void *key, int klen, const void *data, int dlen)
{
    return vral::NoThrow(-1, [&] { return bDbSet(h, key, klen, data, dlen); });
}
