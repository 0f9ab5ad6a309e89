// Checks of what a section write would put into a file.
#include "base/file/file_internal.h"
#include "base/hash/vral_hash.h"

namespace vralfile {

bool SectionWritable(const char *name, VRALSzHash *pMap, const char *format)
{
    if (HasNewline(name))
        return false;
    // The hash writer's own check (NULL passes): two "%s" around "=", a
    // newline, no other conversion.
    if (!VRALSzHashFormatCheck(format))
        return false;
    if (pMap == nullptr)
        return true;
    for (int slot = 0; slot < pMap->nSlot; ++slot) {
        const char *key = VRALSzHashSlotKey(pMap, slot);
        // A newline in a pair would write lines of its own; a key that
        // reads back differently would be lost.
        if (key != nullptr && (!KeyWritable(key) || HasNewline(VRALSzHashSlotValue(pMap, slot))))
            return false;
    }
    return true;
}

}  // namespace vralfile
