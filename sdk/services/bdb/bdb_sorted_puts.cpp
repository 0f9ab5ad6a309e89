#include "services/bdb/bdb_sorted_puts.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/err/vral_err.h"

namespace vexabdb {

int SortedPuts::add(const void *key, int klen, const void *data, int dlen)
{
    if (key == nullptr || klen <= 0 || data == nullptr || dlen <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const size_t off = bytes_.size();
    try {
        bytes_.append(static_cast<const char *>(key), static_cast<size_t>(klen));
        bytes_.append(static_cast<const char *>(data), static_cast<size_t>(dlen));
        recs_.push_back({off, static_cast<uint32_t>(klen), static_cast<uint32_t>(dlen)});
    } catch (const std::bad_alloc &) {
        bytes_.resize(off);
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
    return 0;
}

int SortedPuts::flush()
{
    const char *b = bytes_.data();
    // the library's default order: bytes, then the shorter key first; equal
    // keys in the order they were added (offsets grow with it), so the sort
    // is stable without a buffer of its own
    std::sort(recs_.begin(), recs_.end(), [b](const Rec &x, const Rec &y) {
        const int c = memcmp(b + x.off, b + y.off, std::min(x.klen, y.klen));
        if (c != 0)
            return c < 0;
        return x.klen != y.klen ? x.klen < y.klen : x.off < y.off;
    });
    int r = 0;
    for (const Rec &rec : recs_) {
        if (VEXABDbSet(h_, b + rec.off, static_cast<int>(rec.klen), b + rec.off + rec.klen,
                       static_cast<int>(rec.dlen)) != 0) {
            r = -1;
            break;
        }
    }
    recs_.clear();
    bytes_.clear();
    return r;
}

}  // namespace vexabdb
