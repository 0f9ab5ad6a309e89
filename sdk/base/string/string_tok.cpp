#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/string_dup.h"
#include "base/string/vral_string.h"

extern "C" char *VRALStrTokNext(char **pszCursor, const char *szDelims)
{
    if (pszCursor == nullptr || szDelims == nullptr || *pszCursor == nullptr)
        return nullptr;
    while (*pszCursor != nullptr) {
        char *tok = strsep(pszCursor, szDelims);
        if (tok[0] != '\0')
            return tok;
    }
    return nullptr;
}

extern "C" int VRALStrTok(const char *szStr, const char *szDelims, VRALSzList **ppList)
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
    for (char *tok = VRALStrTokNext(&cursor, szDelims); tok != nullptr; tok = VRALStrTokNext(&cursor, szDelims)) {
        if (VRALSzListPush(ppList, tok) < 0)
            return -1;
        ++n;
    }
    return n;
}
