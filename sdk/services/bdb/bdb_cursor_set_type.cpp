#include "services/bdb/bdb_internal.h"

extern "C" int VEXABDbCursorSetType(VEXABDB *h, int type)
{
    if (h == nullptr || type < BDB_CURSOR_SET || type > BDB_CURSOR_PREV) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    h->cursorType = type;
    return 0;
}
