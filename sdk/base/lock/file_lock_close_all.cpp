#include <cstdio>

#include "base/lock/vral_lock.h"

// For a forked child: drops its copies of the lock streams without
// releasing the locks the parent still holds.
extern "C" int VRALFileLockCloseAll(void)
{
    int result = 0;
    for (VRALLockFile *e = gLockFileTable; e->bit != 0; ++e) {
        e->refcount = 0;
        if (e->fp != nullptr) {
            if (fclose(e->fp) != 0)
                result = -1;
            e->fp = nullptr;
        }
    }
    return result;
}
