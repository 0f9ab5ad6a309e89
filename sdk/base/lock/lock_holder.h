// Holder of lock files taken with VRALFileLock: what it took is released
// when it goes, on every path out, thrown exceptions included; a caller's
// own hold (counted by the lock table) stays.
#ifndef VRAL_LOCK_HOLDER_H
#define VRAL_LOCK_HOLDER_H

#include "base/err/vral_err.h"
#include "base/lock/vral_lock.h"

namespace vral {

class LockHolder {
public:
    // ids with the flock operation, as VRALFileLock takes them.
    LockHolder(int id, int seconds) : ids_(id & ~LOCK_ID_OP_MASK)
    {
        held_ = VRALFileLock(id, seconds) == 0;
    }
    ~LockHolder() { (void)release(0); }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    bool held() const { return held_; }
    // Releases now: r, or -1 (ERR_UNLOCK_FAILED) when the release fails.
    // The code of a failed r stays in the error state.
    int release(int r)
    {
        if (!held_)
            return r;
        held_ = false;
        const int code = VRALErrGet();
        if (VRALFileUnlock(ids_) != 0) {
            VRAL_ERR_SET(ERR_UNLOCK_FAILED);
            return -1;
        }
        if (r < 0)
            VRALErrSetCode(code);
        return r;
    }

private:
    int ids_;
    bool held_ = false;
};

}  // namespace vral

#endif
