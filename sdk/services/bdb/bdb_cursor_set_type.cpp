#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

int bDbCursorSetType(VEXABDB *h, int type)
{
    if (h == nullptr || type < BDB_CURSOR_SET || type > BDB_CURSOR_PREV) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    h->cursorType = type;
    return 0;
}

}  // namespace

extern "C" int VEXABDbCursorSetType(VEXABDB *h, int type)
{
    return vral::NoThrow(-1, [&] { return bDbCursorSetType(h, type); });
}
