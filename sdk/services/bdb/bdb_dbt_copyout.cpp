#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbDBTCopyOut(const DBT *pDbt, char **ppBuf, int *pcb)
{
    if (pDbt == nullptr || ppBuf == nullptr || pcb == nullptr || pDbt->size > INT_MAX ||
        (*ppBuf != nullptr && *pcb <= 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    int cbAlloc = *ppBuf == nullptr ? 0 : *pcb;
    if (VEXACheckAndRealloc(ppBuf, &cbAlloc, static_cast<unsigned int>(pDbt->size)) != 0) {
        VRAL_LOG(LOG_ERR, "VEXACheckAndRealloc failed. vexaerr=0x%04X", VRALErrGet());
        *pcb = 0;
        return -1;
    }
    memcpy(*ppBuf, pDbt->data, pDbt->size);
    *pcb = static_cast<int>(pDbt->size);
    return 0;
}

}  // namespace

extern "C" int VEXABDbDBTCopyOut(const DBT *pDbt, char **ppBuf, int *pcb)
{
    return vral::NoThrow(-1, [&] { return bDbDBTCopyOut(pDbt, ppBuf, pcb); });
}

extern "C" void VEXABDbDataFree(void *p)
{
    free(p);
}
