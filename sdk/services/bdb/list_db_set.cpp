#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/heap_ptr.h"
#include "services/bdb/bdb_internal.h"

namespace {

int listDBSet(VEXABDB *h, const char *szSection, const VRALSzList *pList)
{
    if (h == nullptr || szSection == nullptr || pList == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const size_t len = strlen(szSection);
    vral::HeapPtr<char> key(static_cast<char *>(malloc(len + 2)));
    if (!key) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    key.get()[0] = '#';
    for (size_t i = 0; i <= len; ++i) {
        const char c = szSection[i];
        key.get()[i + 1] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    vral::HeapPtr<void> packed(VEXAListDBPack(pList, pList->cbAlloc));
    if (!packed) {
        syslog(LOG_ERR, "%s (%d): errno=%d, VEXAListDBPack() failed, section[%s]\n", __FILE_NAME__, __LINE__,
               VRALErrGet(), szSection);
        return -1;
    }
    if (VEXABDbSet(h, key.get(), static_cast<int>(len + 2), packed.get(), pList->cbAlloc) != 0) {
        syslog(LOG_ERR, "%s (%d): errno=%d, VEXABDbSet() failed, section[%s]\n", __FILE_NAME__, __LINE__,
               VRALErrGet(), szSection);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAListDBSet(VEXABDB *h, const char *szSection, const VRALSzList *pList)
{
    return vral::NoThrow(-1, [&] { return listDBSet(h, szSection, pList); });
}
