#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

namespace {

bool isTrimmed(char c)
{
    return c == '\t' || c == '\n' || c == '\r' || c == ' ';
}

}  // namespace

extern "C" int VRALStrTrimSpace(char *szIn, char *szOut)
{
    if (szIn == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    size_t cchIn = strlen(szIn);
    // An output that starts inside the input would be overwritten before
    // it is read.
    if (szOut != nullptr && szOut > szIn && szOut <= szIn + cchIn) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (szOut == nullptr)
        szOut = szIn;

    const char *begin = szIn;
    const char *end = szIn + cchIn;
    while (begin < end && isTrimmed(*begin))
        ++begin;
    while (end > begin && isTrimmed(end[-1]))
        --end;
    if (end - begin > 1 && *begin == '"' && end[-1] == '"') {
        ++begin;
        --end;
    }
    size_t cch = static_cast<size_t>(end - begin);
    memmove(szOut, begin, cch);
    szOut[cch] = '\0';
    return static_cast<int>(cch);
}
