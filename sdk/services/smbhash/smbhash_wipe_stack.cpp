#include <cstring>

#include "services/smbhash/smbhash_internal.h"

namespace vexa::smbhash {

// Not inlined: its area must lie below the frame that called the hash's
// helpers, where their frames were.
__attribute__((noinline)) void wipeStack() noexcept
{
    unsigned char area[32768];
    explicit_bzero(area, sizeof area);
}

}  // namespace vexa::smbhash
