// The way an SDK function with a C interface runs C++ code that may throw:
// no exception ever reaches its C caller.
#ifndef VRAL_ERR_GUARD_H
#define VRAL_ERR_GUARD_H

#include "base/err/vral_err.h"

namespace vral {

// Returns what body returns; should it throw (only allocations do in the
// SDK's own code), records ERR_OUT_OF_MEMORY and returns fail instead.
template <typename R, typename Body>
R NoThrow(R fail, Body body) noexcept
{
    try {
        return body();
    } catch (...) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return fail;
    }
}

}  // namespace vral

#endif
