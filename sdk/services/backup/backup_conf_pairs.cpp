// Key values of a set's hash as the records take them.
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"
#include "services/backup/backup_internal.h"

namespace vexabkp {

char *PairCopy(VRALSzHash *pHash, const char *szKey)
{
    const char *value = SzVRALSzHashGetValue(pHash, szKey);
    return strdup(value != nullptr ? value : "");
}

int SetLinePair(char *line, VRALSzList **ppList)
{
    if (VRALStrTrimSpace(line, nullptr) < 0)
        return -1;
    if (line[0] == '\0')
        return 0;
    VRALSzListClear(*ppList);
    if (VRALStrSepPair(line, ppList) != 0 || *ppList == nullptr || (*ppList)->nItem != 2)
        return 1;
    return 2;
}

int PairInt(VRALSzHash *pHash, const char *szKey, int fallback)
{
    const char *value = SzVRALSzHashGetValue(pHash, szKey);
    return value != nullptr ? atoi(value) : fallback;
}

bool PairSet(VRALSzHash **ppHash, const char *szKey, const char *szValue)
{
    if (VRALSzHashSetValue(ppHash, szKey, szValue) < 0) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return false;
    }
    return true;
}

bool PairSetInt(VRALSzHash **ppHash, const char *szKey, int value)
{
    return PairSet(ppHash, szKey, std::to_string(value).c_str());
}

}  // namespace vexabkp
