#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/unicode/vral_unicode.h"

extern "C" int VEXAConfCodePageGet(int kind, int *pId)
{
    if (pId == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const char *szKey = kind == VRAL_CODEPAGE_MEDIA ? "codepage_mediaservice" : "codepage";
    char szValue[8];
    // The reader records its own code (missing key, value too long).
    if (VRALFileGetKeyValue(VEXA_INFO_CONF, szKey, szValue, sizeof szValue, 0) <= 0)
        return -1;
    int id = VRALUnicodeCodepageValueParse(kind, szValue);
    if (id < 0)
        return -1;
    *pId = id;
    return 0;
}
