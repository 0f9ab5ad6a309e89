#include "services/log/log_internal.h"

namespace vexalog {

bool followChain(const std::string &bytes, uint32_t o, uint32_t w, Chain *pChain)
{
    const auto *b = reinterpret_cast<const unsigned char *>(bytes.data());
    const uint64_t size = bytes.size();
    pChain->older.clear();
    pChain->newer.clear();
    if (o < kFirst || w < kFirst || o > size || w > size)
        return false;
    uint64_t off = o;
    if (o > w) {
        // The older lap ends at a zero length or at the file's end.
        for (uint32_t len; off + 2 <= size && (len = getU16(b + off)) != 0; off += len) {
            if (len < kFixed || off + len > size)
                return false;
            pChain->older.push_back({static_cast<uint32_t>(off), len});
        }
        pChain->lapEnd = static_cast<uint32_t>(off);
        off = kFirst;
    }
    while (off < w) {
        const uint32_t len = off + 2 <= w ? getU16(b + off) : 0;
        if (len < kFixed || off + len > w)
            return false;
        pChain->newer.push_back({static_cast<uint32_t>(off), len});
        off += len;
    }
    return true;
}

}  // namespace vexalog
