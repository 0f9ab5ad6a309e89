#include <cstring>

#include "base/string/string_dup.h"
#include "base/string/vral_string.h"

extern "C" int VRALStrSep(const char *szStr, const char *szDelims, VRALSzList **ppList)
{
    vral::string::Dup copy = vral::string::splitCopy(szStr, ppList, szDelims != nullptr);
    if (!copy)
        return -1;
    // strsep keeps empty tokens; a cursor of NULL means the text is used up.
    return vral::string::pushTokens(copy.get(), ppList, [szDelims](char **pCursor) {
        return *pCursor != nullptr ? strsep(pCursor, szDelims) : nullptr;
    });
}
