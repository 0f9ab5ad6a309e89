#include <syslog.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"

extern "C" int VEXACheckAndRealloc(char **ppData, int *pcbAlloc, unsigned int cbNeed)
{
    // A size beyond INT_MAX could not be recorded in *pcbAlloc.
    if (ppData == nullptr || pcbAlloc == nullptr || cbNeed == 0 || cbNeed > INT_MAX) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (*ppData == nullptr) {
        *ppData = static_cast<char *>(calloc(1, cbNeed));
        if (*ppData == nullptr) {
            int e = errno;
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            syslog(LOG_ERR, "%s:%d NULL == *ppData, NULL == malloc(%d). errno=%d/%m", __FILE__, __LINE__,
                   static_cast<int>(cbNeed), e);
            return -1;
        }
        *pcbAlloc = static_cast<int>(cbNeed);
        return 0;
    }
    // A block of unknown (zero or negative) size cannot be trusted.
    if (*pcbAlloc <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (cbNeed <= static_cast<unsigned int>(*pcbAlloc))
        return 0;
    *ppData = static_cast<char *>(VRALReallocOrFree(*ppData, cbNeed));
    if (*ppData == nullptr) {
        int e = errno;
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        syslog(LOG_ERR, "%s:%d NULL != *ppData, cbNeed=[%d] > *pcbAlloc=[%d]. errno=%d/%m", __FILE__, __LINE__,
               static_cast<int>(cbNeed), *pcbAlloc, e);
        return -1;
    }
    *pcbAlloc = static_cast<int>(cbNeed);
    return 0;
}
