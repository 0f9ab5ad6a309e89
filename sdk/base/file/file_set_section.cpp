// Replaces a section by a new name and pairs.
#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"

extern "C" int ErrVRALFileSetSection(const char *szFile, const char *oldSection, const char *newSection,
                                     VRALSzHash *pMap, const char *format)
{
    if (pMap == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return VRALFileModifySection(szFile, oldSection, newSection, pMap, 1, format);
}
