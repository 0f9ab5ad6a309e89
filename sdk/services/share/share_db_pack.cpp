#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

// The stored form keeps the 32-bit layout whatever this machine's pointers
// are: eleven words, then the block's strings, the pointers as offsets
// counted from word 1.
namespace {

void *shareDBPack(const VEXASHARE *pShare, int *pcb)
{
    if (pShare == nullptr || pcb == nullptr || pShare->cbAlloc <= static_cast<int>(sizeof(VEXASHARE))) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    const char *block = reinterpret_cast<const char *>(pShare);
    const char *area = block + sizeof(VEXASHARE);
    const char *end = block + pShare->cbAlloc;
    if (end[-1] != '\0') {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return nullptr;
    }
    for (char *VEXASHARE::*f : vexashare::kStringOrder) {
        if (pShare->*f < area || pShare->*f >= end) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return nullptr;
        }
    }
    const int cbArea = static_cast<int>(end - area);
    const int cbStored = 4 + SHARE_STORED_HEADER + cbArea;
    auto *out = static_cast<char *>(malloc(static_cast<size_t>(cbStored)));
    if (out == nullptr) {
        VRAL_LOG_ERR("errno=%d/%m, malloc failed.\n", errno);
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    int32_t w[12] = {};
    int i = 1;
    for (char *VEXASHARE::*f : vexashare::kStoredOrder)
        w[i++] = static_cast<int32_t>(SHARE_STORED_HEADER + (pShare->*f - area));
    w[7] = pShare->fType;
    w[8] = pShare->fBrowseable;
    w[9] = pShare->fFtpWriteOnly;
    w[10] = cbStored;
    w[11] = SHARE_STORED_HEADER + (pShare->cbRecord - static_cast<int>(sizeof(VEXASHARE)));
    memcpy(out, w, sizeof w);
    memcpy(out + sizeof w, area, static_cast<size_t>(cbArea));
    *pcb = cbStored;
    return out;
}

}  // namespace

extern "C" void *VEXAShareDBPack(const VEXASHARE *pShare, int *pcb)
{
    return vral::NoThrow(static_cast<void *>(nullptr), [&] { return shareDBPack(pShare, pcb); });
}
