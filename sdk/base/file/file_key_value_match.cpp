// Compares the value of a key with a text, ignoring ASCII case.
#include <strings.h>

#include <cstring>

#include "base/file/vral_file.h"

extern "C" int VRALFileKeyValueMatch(const char *szFile, const char *szKey, const char *text)
{
    if (szFile == nullptr || szKey == nullptr || text == nullptr)
        return 0;
    char value[512];
    memset(value, 0, sizeof value);
    if (VRALFileGetKeyValue(szFile, szKey, value, sizeof value, 0) < 0)
        return 0;
    return strcasecmp(value, text) == 0 ? 1 : 0;
}
