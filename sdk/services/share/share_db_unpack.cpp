#include <cstdint>
#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"
#include "services/share/share_internal.h"

namespace {

constexpr int kWords = 12;
constexpr int kTypeBits = SHARE_TYPE_DENIED | SHARE_TYPE_GUEST_WRITE | SHARE_TYPE_GUEST_READ;

// The words describe a record of exactly cb stored bytes whose strings all
// end inside it.
bool sound(const int32_t (&w)[kWords], const char *stored, int cb)
{
    const int cbArea = cb - 4 - SHARE_STORED_HEADER;
    if (w[0] != 0 || w[10] != cb || cbArea < 1 || stored[cb - 1] != '\0')
        return false;
    for (int i = 1; i <= 6; ++i) {
        if (w[i] < SHARE_STORED_HEADER || w[i] >= SHARE_STORED_HEADER + cbArea)
            return false;
    }
    return (w[7] & kTypeBits) != 0 && w[7] > 0 && w[8] >= 0 && w[9] >= 0 && w[11] > SHARE_STORED_HEADER &&
           w[11] <= SHARE_STORED_HEADER + cbArea;
}

}  // namespace

namespace {

int shareDBUnPack(const void *pStored, int cb, VEXASHARE **ppShare)
{
    if (pStored == nullptr || ppShare == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const auto *stored = static_cast<const char *>(pStored);
    int32_t w[kWords] = {};
    if (cb < static_cast<int>(sizeof w) + 1 || (memcpy(w, stored, sizeof w), !sound(w, stored, cb))) {
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    const int cbArea = cb - static_cast<int>(sizeof w);
    char *block = reinterpret_cast<char *>(*ppShare);
    int cbBlock = block != nullptr ? (*ppShare)->cbAlloc : 0;
    if (VEXACheckAndRealloc(&block, &cbBlock, static_cast<unsigned int>(sizeof(VEXASHARE)) + cbArea) != 0) {
        VRAL_LOG_ERR("VEXACheckAndRealloc failed. vexaerr=0x%04X", VRALErrGet());
        *ppShare = nullptr;
        return -1;
    }
    auto *rec = reinterpret_cast<VEXASHARE *>(block);
    char *area = block + sizeof(VEXASHARE);
    memcpy(area, stored + sizeof w, static_cast<size_t>(cbArea));
    // a reused block's slack: its last byte stays a NUL, as built
    memset(area + cbArea, 0, static_cast<size_t>(cbBlock) - sizeof(VEXASHARE) - static_cast<size_t>(cbArea));
    int i = 1;
    for (char *VEXASHARE::*f : vexashare::kStoredOrder)
        rec->*f = area + (w[i++] - SHARE_STORED_HEADER);
    rec->fType = w[7];
    rec->fBrowseable = w[8];
    rec->fFtpWriteOnly = w[9];
    rec->cbAlloc = cbBlock;
    rec->cbRecord = static_cast<int>(sizeof(VEXASHARE)) + (w[11] - SHARE_STORED_HEADER);
    *ppShare = rec;
    return 0;
}

}  // namespace

extern "C" int VEXAShareDBUnPack(const void *pStored, int cb, VEXASHARE **ppShare)
{
    return vral::NoThrow(-1, [&] { return shareDBUnPack(pStored, cb, ppShare); });
}
