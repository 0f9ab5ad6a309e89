#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbGet(VEXABDB *h, const void *key, int klen, char **ppBuf, int *pcb)
{
    if (h == nullptr || h->pDB == nullptr || key == nullptr || klen <= 0 || ppBuf == nullptr || pcb == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    DBT k{const_cast<void *>(key), static_cast<size_t>(klen)};
    DBT v{};
    const int r = h->pDB->get(h->pDB, &k, &v, 0);
    if (r == 1) {
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return -1;
    }
    if (r != 0)
        return vexabdb::callFailed("get", ERR_DB_GET_FAILED, false);
    return VEXABDbDBTCopyOut(&v, ppBuf, pcb);
}

}  // namespace

extern "C" int VEXABDbGet(VEXABDB *h, const void *key, int klen, char **ppBuf, int *pcb)
{
    return vral::NoThrow(-1, [&] { return bDbGet(h, key, klen, ppBuf, pcb); });
}
