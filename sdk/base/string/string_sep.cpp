#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/string_dup.h"
#include "base/string/vral_string.h"

extern "C" int VRALStrSep(const char *szStr, const char *szDelims, VRALSzList **ppList)
{
    if (szStr == nullptr || szDelims == nullptr || ppList == nullptr || *ppList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    vral::string::Dup copy = vral::string::dup(szStr);
    if (!copy) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    int n = 0;
    char *cursor = copy.get();
    while (cursor != nullptr) {
        char *tok = strsep(&cursor, szDelims);
        if (VRALSzListPush(ppList, tok) < 0)
            return -1;
        ++n;
    }
    return n;
}
