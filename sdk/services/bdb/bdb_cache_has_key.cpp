#include "services/bdb/bdb_cache.h"
#include "services/bdb/bdb_internal.h"

namespace vexabdb {

int cacheHasKey(VEXABDB *h, const void *key, int klen)
{
    if (h == nullptr || h->pDB == nullptr || key == nullptr || klen <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    DBT k{const_cast<void *>(key), static_cast<size_t>(klen)};
    DBT v{};
    const int r = h->pDB->get(h->pDB, &k, &v, 0);
    if (r == 1)
        return 0;
    if (r != 0)
        return callFailed("get", ERR_DB_GET_FAILED, false);
    return 1;
}

}  // namespace vexabdb
