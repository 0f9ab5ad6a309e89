#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbDBTSet(DBT *pDbt, void *data, int size)
{
    if (pDbt == nullptr || data == nullptr || size <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    pDbt->data = data;
    pDbt->size = static_cast<size_t>(size);
    return 0;
}

}  // namespace

extern "C" int VEXABDbDBTSet(DBT *pDbt, void *data, int size)
{
    return vral::NoThrow(-1, [&] { return bDbDBTSet(pDbt, data, size); });
}
