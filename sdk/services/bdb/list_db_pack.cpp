#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

// The list block already holds offsets from its start, so its stored form
// is the block itself.
namespace {

void *listDBPack(const VRALSzList *pList, int cb)
{
    if (pList == nullptr || cb <= 0 || cb > pList->cbAlloc) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    void *p = malloc(static_cast<size_t>(cb));
    if (p == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    memcpy(p, pList, static_cast<size_t>(cb));
    return p;
}

}  // namespace

extern "C" void *VEXAListDBPack(const VRALSzList *pList, int cb)
{
    return vral::NoThrow(static_cast<void *>(nullptr), [&] { return listDBPack(pList, cb); });
}
