#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

using namespace vral::list;

extern "C" int VRALSzListFind(VRALSzList *pList, const char *szStr)
{
    // A case-ordered list cannot be searched in byte order.
    if (pList == nullptr || szStr == nullptr || isCaseSorted(pList)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return findItem(pList, szStr, false);
}
