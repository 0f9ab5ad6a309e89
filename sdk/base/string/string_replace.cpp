#include <cstring>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

extern "C" int VRALStrReplace(char *szStr, const char *szOld, const char *szNew, char *szOut, int cbOut)
{
    if (szStr == nullptr || szOld == nullptr || szNew == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    size_t cchStr = strlen(szStr);
    size_t cchOld = strlen(szOld);
    size_t cchNew = strlen(szNew);
    if (szOut == szStr)
        szOut = nullptr;
    // A separate output must not overlap the text it is built from.
    if (szOut != nullptr && cbOut > 0 && szOut < szStr + cchStr + 1 && szStr < szOut + cbOut) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    long long cbNeed = static_cast<long long>(cchStr) - static_cast<long long>(cchOld) +
                       static_cast<long long>(cchNew) + 1;
    if (static_cast<long long>(cbOut) < cbNeed) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        return -1;
    }
    char *hit = strstr(szStr, szOld);
    if (hit == nullptr)
        return 0;

    size_t cchPrefix = static_cast<size_t>(hit - szStr);
    const char *rest = hit + cchOld;
    size_t cbRest = cchStr - cchPrefix - cchOld + 1;
    if (szOut != nullptr) {
        memcpy(szOut, szStr, cchPrefix);
        memcpy(szOut + cchPrefix, szNew, cchNew);
        memcpy(szOut + cchPrefix + cchNew, rest, cbRest);
    } else {
        // Moving the rest could overwrite a replacement taken from szStr.
        std::string copy;
        if (szNew >= szStr && szNew < szStr + cbOut) {
            try {
                copy.assign(szNew, cchNew);
            } catch (const std::bad_alloc &) {
                VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
                return -1;
            }
            szNew = copy.c_str();
        }
        memmove(hit + cchNew, rest, cbRest);
        memmove(hit, szNew, cchNew);
    }
    return 1;
}
