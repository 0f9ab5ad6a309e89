// Block arithmetic shared by the string-hash operations.
#ifndef VRAL_HASH_INTERNAL_H
#define VRAL_HASH_INTERNAL_H

#include <cstdint>
#include <cstring>
#include <new>
#include <string>

#include "base/err/vral_err.h"
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

// Grows the map for a store of cb new string bytes (VRALSzHashGrow), after
// refusing a size no block could hold and detaching key and value when they
// lie inside the block, which growth would move.  The map, possibly a new
// block, or NULL (recorded) with the map unchanged.
inline VRALSzHash *growForStore(VRALSzHash *p, int64_t cb, const char **pszKey, const char **pszValue,
                                std::string &keyCopy, std::string &valueCopy)
{
    if (cb > INT32_MAX) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    try {
        *pszKey = detach(p, *pszKey, keyCopy);
        *pszValue = detach(p, *pszValue, valueCopy);
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return nullptr;
    }
    return VRALSzHashGrow(p, static_cast<int>(cb));
}

// A grown map that still has no room (which growth rules out): ERR_NO_SPACE
// and no slot, while a moved block must still reach the caller.
inline VRALSzHash *noRoom(VRALSzHash *pOld, VRALSzHash *pNew, int *pSlot)
{
    VRAL_ERR_SET(ERR_NO_SPACE);
    *pSlot = -1;
    return pNew != pOld ? pNew : nullptr;
}

// Bytes a key and value take in the string area, with their terminators.
inline int64_t pairBytes(const char *szKey, const char *szValue)
{
    return static_cast<int64_t>(strlen(szKey)) + static_cast<int64_t>(strlen(szValue)) + 2;
}

}  // namespace vral::hash

#endif
