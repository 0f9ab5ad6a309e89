// Block arithmetic shared by the string-hash operations.
#ifndef VRAL_HASH_INTERNAL_H
#define VRAL_HASH_INTERNAL_H

#include <cstdint>
#include <cstring>
#include <string>

#include "base/hash/vral_hash.h"

namespace vral::hash {

inline char *base(VRALSzHash *p)
{
    return reinterpret_cast<char *>(p);
}

inline const char *base(const VRALSzHash *p)
{
    return reinterpret_cast<const char *>(p);
}

// Offset of the string area from the block's start.
inline int64_t areaStart(int64_t nSlot)
{
    return VRAL_SZHASH_HEADER + VRAL_SZHASH_SLOT_SIZE * nSlot;
}

inline int64_t areaStart(const VRALSzHash *p)
{
    return areaStart(p->nSlot);
}

inline bool isLive(const VRALSzHash *p, int slot)
{
    return p->slots[slot].pszKey != 0;
}

inline bool isEmpty(const VRALSzHash *p, int slot)
{
    return p->slots[slot].pszKey == 0 && p->slots[slot].pszValue == 0;
}

inline bool isInside(const VRALSzHash *p, const char *sz)
{
    const char *b = base(p);
    return sz >= b && sz < b + VRALSzHashBlockSize(p);
}

// A string that lies inside the block is copied out before the block can
// move or be written over; otherwise the caller's pointer is kept.
inline const char *detach(const VRALSzHash *p, const char *sz, std::string &copy)
{
    if (!isInside(p, sz))
        return sz;
    copy.assign(sz);
    return copy.c_str();
}

// Bytes a key and value take in the string area, with their terminators.
inline int64_t pairBytes(const char *szKey, const char *szValue)
{
    return static_cast<int64_t>(strlen(szKey)) + static_cast<int64_t>(strlen(szValue)) + 2;
}

}  // namespace vral::hash

#endif
