// The 4-byte int markers, read back only when their value is exactly one
// int.
#include <cstdlib>
#include <cstring>

#include "services/bdb/bdb_internal.h"

namespace vexabdb {

int getIntBlock(VEXABDB *h, const char *key, int klen, char **ppBuf)
{
    if (h == nullptr || ppBuf == nullptr || *ppBuf != nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int cb = 0;
    if (VEXABDbGet(h, key, klen, ppBuf, &cb) != 0)
        return -1;
    if (cb != static_cast<int>(sizeof(int))) {
        free(*ppBuf);
        *ppBuf = nullptr;
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    return 0;
}

int getInt(VEXABDB *h, const char *key, int klen, int *pValue)
{
    char *p = nullptr;
    if (getIntBlock(h, key, klen, &p) != 0)
        return -1;
    memcpy(pValue, p, sizeof(int));
    free(p);
    return 0;
}

int setInt(VEXABDB *h, const char *key, int klen, int value)
{
    return VEXABDbSet(h, key, klen, &value, sizeof value);
}

}  // namespace vexabdb
