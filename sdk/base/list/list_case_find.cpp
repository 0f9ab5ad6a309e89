#include "base/err/vral_err.h"
#include "base/list/list_internal.h"
#include "base/unicode/vral_unicode.h"

using namespace vral::list;

extern "C" int VRALSzListCaseFind(VRALSzList *pList, const char *szStr)
{
    if (pList == nullptr || szStr == nullptr || isByteSorted(pList)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (isCaseSorted(pList)) {
        int r = VRALSzListBinarySearch(pList, pList->nItem - 1, 0, szStr, 1);
        return r < 0 ? -1 : r;
    }
    for (int i = 0; i < pList->nItem; ++i) {
        if (!isPadding(pList, i) && VRALUnicodeUTF8StrCaseCmp(VRALSzListItem(pList, i), szStr) == 0)
            return i;
    }
    return -1;
}
