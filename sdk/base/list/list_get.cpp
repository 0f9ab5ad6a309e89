#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

extern "C" char *SzVRALSzListGet(VRALSzList *pList, int idx)
{
    if (pList == nullptr || idx < 0 || idx >= pList->nItem) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    return VRALSzListItem(pList, idx);
}
