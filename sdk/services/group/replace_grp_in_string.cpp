#include <cstdlib>
#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "services/group/group_internal.h"

extern "C" int ReplaceGrpInString(const char *list, char **ppOut, const char *oldGroup, const char *newGroup)
{
    return vral::NoThrow(-1, [&] {
        if (list == nullptr || ppOut == nullptr || *ppOut != nullptr || oldGroup == nullptr || newGroup == nullptr) {
            VRAL_ERR_SET(ERR_BAD_PARAMETERS);
            return -1;
        }
        // every item, the last too, followed by ","; a match only at an
        // item's start, so "@staff" never matches inside "@my staff"
        const std::string items = std::string(list) + ",";
        const std::string from = std::string("@") + oldGroup + ",";
        size_t at = 0;
        while (at < items.size() && items.compare(at, from.size(), from) != 0) {
            const size_t comma = items.find(',', at);
            at = comma == std::string::npos ? items.size() : comma + 1;
        }
        if (list[0] == '\0' || at >= items.size()) {
            *ppOut = const_cast<char *>(list);
            return 0;
        }
        std::string out = items.substr(0, at) + "@" + newGroup + "," + items.substr(at + from.size());
        out.pop_back();
        *ppOut = strdup(out.c_str());
        if (*ppOut == nullptr) {
            VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
            return -1;
        }
        return 1;
    });
}
