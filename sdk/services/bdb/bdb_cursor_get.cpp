#include "base/err/err_guard.h"
#include "services/bdb/bdb_internal.h"

namespace {

u_int seqFlag(int type)
{
    switch (type) {
    case BDB_CURSOR_SET:
        return R_CURSOR;
    case BDB_CURSOR_FIRST:
        return R_FIRST;
    case BDB_CURSOR_LAST:
        return R_LAST;
    case BDB_CURSOR_PREV:
        return R_PREV;
    default:
        return R_NEXT;
    }
}

}  // namespace

namespace vexabdb {

int cursorStep(VEXABDB *h, int fSkipMeta, DBT *k, DBT *v)
{
    const DBT search = *k;
    for (;;) {
        *k = h->cursorType == BDB_CURSOR_SET ? search : DBT{};
        *v = DBT{};
        const int r = h->pDB->seq(h->pDB, k, v, seqFlag(h->cursorType));
        if (r == 1) {
            VRAL_ERR_SET(ERR_END_OF_RECORDS);
            return -1;
        }
        if (r != 0)
            return callFailed("seq", ERR_DB_GET_FAILED, false);
        if (fSkipMeta != 1 || k->size == 0 || static_cast<const char *>(k->data)[0] != '#')
            return 0;
        // Skipping a marker goes on in the direction of the walk; a
        // positioning step never lands on the same marker again.
        if (h->cursorType == BDB_CURSOR_FIRST || h->cursorType == BDB_CURSOR_SET)
            h->cursorType = BDB_CURSOR_NEXT;
        else if (h->cursorType == BDB_CURSOR_LAST)
            h->cursorType = BDB_CURSOR_PREV;
    }
}

}  // namespace vexabdb

namespace {

int bDbCursorGet(VEXABDB *h, int fSkipMeta, char **ppKey, int *pcbKey, char **ppData, int *pcbData)
{
    if (h == nullptr || h->pDB == nullptr || ppKey == nullptr || pcbKey == nullptr || ppData == nullptr ||
        pcbData == nullptr || (h->cursorType == BDB_CURSOR_SET && (*ppKey == nullptr || *pcbKey <= 0))) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    DBT k{};
    DBT v{};
    if (h->cursorType == BDB_CURSOR_SET) {
        k.data = *ppKey;
        k.size = static_cast<size_t>(*pcbKey);
    }
    if (vexabdb::cursorStep(h, fSkipMeta, &k, &v) != 0)
        return -1;
    if (VEXABDbDBTCopyOut(&k, ppKey, pcbKey) != 0 || VEXABDbDBTCopyOut(&v, ppData, pcbData) != 0)
        return -1;
    return 0;
}

}  // namespace

extern "C" int VEXABDbCursorGet(VEXABDB *h, int fSkipMeta, char **ppKey, int *pcbKey, char **ppData, int *pcbData)
{
    return vral::NoThrow(-1, [&] { return bDbCursorGet(h, fSkipMeta, ppKey, pcbKey, ppData, pcbData); });
}
