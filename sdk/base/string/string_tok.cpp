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
    vral::string::Dup copy = vral::string::splitCopy(szStr, ppList, szDelims != nullptr);
    if (!copy)
        return -1;
    return vral::string::pushTokens(copy.get(), ppList,
                                    [szDelims](char **pCursor) { return VRALStrTokNext(pCursor, szDelims); });
}
