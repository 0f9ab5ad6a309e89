#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/hash/vral_hash.h"
#include "services/share/share_internal.h"

namespace {

struct Owned {
    VRALSzHash *seen = VRALSzHashAlloc(1024);
    VRALSzList *keys = PslVRALSzListAlloc(1024);
    ~Owned()
    {
        VRALSzHashFree(seen);
        VRALSzListFree(keys);
    }
};

}  // namespace

namespace {

int removeSameUsers(char *list)
{
    if (list == nullptr) {
        VRAL_LOG_ERR("szUserList is NULL!!\n");
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (list[0] == '\0')
        return 0;
    return vral::NoThrow(-1, [&] {
        Owned o;
        if (o.seen == nullptr || o.keys == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        // equal items, byte for byte, become one key
        std::string item;
        for (const char *p = list;; ++p) {
            if (*p != ',' && *p != '\0') {
                item.push_back(*p);
                continue;
            }
            if (!item.empty() && VRALSzHashSetValue(&o.seen, item.c_str(), "1") < 0)
                return -1;
            item.clear();
            if (*p == '\0')
                break;
        }
        if (VRALSzHashKeyList(o.seen, &o.keys) < 0)
            return -1;
        // never longer than the input
        std::string out;
        for (int i = 0; i < o.keys->nItem; ++i) {
            if (i > 0)
                out.push_back(',');
            out += VRALSzListItem(o.keys, i);
        }
        memcpy(list, out.c_str(), out.size() + 1);
        return 1;
    });
}

}  // namespace

extern "C" int RemoveSameUsers(char *list)
{
    return vral::NoThrow(-1, [&] { return removeSameUsers(list); });
}
