#include <sys/file.h>

#include <cstdio>

#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"

extern "C" int VRALFileUnlock(int id)
{
    int result = 0;
    for (VRALLockFile *e = gLockFileTable; e->bit != 0; ++e) {
        if (e->fp == nullptr || (e->bit & id) == 0)
            continue;
        if (e->refcount > 1) {
            --e->refcount;
            continue;
        }
        if (flock(fileno(e->fp), LOCK_UN) != 0) {
            VRAL_ERR_SET(ERR_UNLOCK_FAILED);
            result = -1;
        }
        if (fclose(e->fp) != 0)
            result = -1;
        e->fp = nullptr;
        e->refcount = 0;
    }
    return result;
}
