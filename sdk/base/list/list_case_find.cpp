#include "base/err/vral_err.h"
#include "base/list/list_internal.h"

using namespace vral::list;

extern "C" int VRALSzListCaseFind(VRALSzList *pList, const char *szStr)
{
    // A byte-ordered list cannot be searched in case order.
    if (pList == nullptr || szStr == nullptr || isByteSorted(pList)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return findItem(pList, szStr, true);
}
