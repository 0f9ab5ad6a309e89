#include <cstring>

#include "base/err/vral_err.h"
#include "base/string/string_dup.h"
#include "base/string/vral_string.h"

extern "C" int VRALStrSepPair(const char *szStr, VRALSzList **ppList)
{
    vral::string::Dup copy = vral::string::splitCopy(szStr, ppList);
    if (!copy)
        return -1;
    char *key = copy.get();
    char *eq = strchr(key, '=');
    char *value = nullptr;
    if (eq != nullptr) {
        *eq = '\0';
        value = eq + 1;
    }
    if (VRALStrTrimSpace(key, nullptr) <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (VRALSzListPush(ppList, key) < 0)
        return -1;
    if (value == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    VRALStrTrimSpace(value, nullptr);
    if (VRALSzListPush(ppList, value) < 0)
        return -1;
    return 0;
}
