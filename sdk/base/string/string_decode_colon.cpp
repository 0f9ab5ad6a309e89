#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

extern "C" int VRALStrDecodeColon(const char *szIn, char *szOut, unsigned int cbOut)
{
    if (szIn == nullptr || szOut == nullptr || szIn == szOut) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    size_t cchIn = strlen(szIn);
    if (cbOut < cchIn + 1) {
        VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
        return -1;
    }
    size_t at = 0;
    for (size_t i = 0; i < cchIn; ++i) {
        char c = szIn[i];
        if (c == ';') {
            // A semicolon starts a pair; anything but ";," or ";;" ends the text.
            char next = szIn[i + 1];
            if (next == ',')
                c = ':';
            else if (next != ';')
                break;
            ++i;
        }
        szOut[at++] = c;
    }
    szOut[at] = '\0';
    return static_cast<int>(at);
}
