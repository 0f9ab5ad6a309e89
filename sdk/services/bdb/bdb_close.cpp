#include <cstdlib>

#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbClose(VEXABDB *h)
{
    if (h == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (h->pDB != nullptr && h->pDB->close(h->pDB) != 0) {
        const int e = errno;
        VRAL_LOG(LOG_ERR, "errno=%d/%m, db->close failed.", e);
        if (e == EROFS)
            VRAL_ERR_SET(ERR_READ_ONLY);
        else if (e == EIO || e == EINTR || e == ENOSPC)
            VRAL_ERR_SET(vexabdb::errCode(e, 0, true));
    }
    free(h);
    return 0;
}

}  // namespace

extern "C" int VEXABDbClose(VEXABDB *h)
{
    return vral::NoThrow(-1, [&] { return bDbClose(h); });
}
