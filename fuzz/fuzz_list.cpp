// String-list operations on arbitrary strings in every sort mode.
// Input: a sort-mode byte, then operations: an operation byte, an index
// byte and a string up to a NUL byte.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/list/vral_list.h"

namespace {

int find(VRALSzList *p, const char *sz)
{
    return p->sortMode == VRAL_SZLIST_SORT_BYTE ? VRALSzListFind(p, sz) : VRALSzListCaseFind(p, sz);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static const int modes[] = {VRAL_SZLIST_UNSORTED, VRAL_SZLIST_SORT_BYTE, VRAL_SZLIST_SORT_CASE};
    VRALSzList *p = PslVRALSzListAlloc(0);
    if (p == nullptr)
        return 0;
    p->sortMode = modes[data[0] % 3];
    const bool sorted = p->sortMode != VRAL_SZLIST_UNSORTED;
    std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
    while (rest.size() >= 2) {
        const int op = static_cast<unsigned char>(rest[0]) % 6;
        const int idx = static_cast<unsigned char>(rest[1]) % 40;
        const std::string str = rest.c_str() + 2;
        rest.erase(0, std::min(rest.size(), str.size() + 3));
        switch (op) {
        case 0:
        case 1: {
            const int at = op == 0 ? VRALSzListPush(&p, str.c_str()) : VRALSzListInsert(&p, idx, str.c_str());
            if (at < 0)
                abort();
            // What was just placed is found again.
            if (sorted && find(p, str.c_str()) < 0)
                abort();
            break;
        }
        case 2:
            if (idx < p->nItem && (VRALSzListSet(&p, idx, str.c_str()) < 0 || (sorted && find(p, str.c_str()) < 0)))
                abort();
            break;
        case 3:
            SzVRALSzListRemove(p, idx);
            break;
        case 4:
            find(p, str.c_str());
            break;
        default: {
            VRALSzList *pNew = VRALSzListExpand(p);
            if (pNew != nullptr)
                p = pNew;
            break;
        }
        }
        if (!VRALSzListIsValid(p, p->cbAlloc))
            abort();
    }
    VRALSzListFree(p);
    return 0;
}
