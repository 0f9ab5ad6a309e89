#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

VRALSzList *listDBUnpack(const void *pPacked, int cb)
{
    if (pPacked == nullptr || cb <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    auto *pList = static_cast<VRALSzList *>(malloc(static_cast<size_t>(cb)));
    if (pList == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memcpy(pList, pPacked, static_cast<size_t>(cb));
    // a stored value is checked before any offset in it is followed
    if (VRALSzListIsValid(pList, cb) != 1) {
        free(pList);
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return nullptr;
    }
    return pList;
}

}  // namespace

extern "C" VRALSzList *VEXAListDBUnpack(const void *pPacked, int cb)
{
    return vral::NoThrow(static_cast<VRALSzList *>(nullptr), [&] { return listDBUnpack(pPacked, cb); });
}
