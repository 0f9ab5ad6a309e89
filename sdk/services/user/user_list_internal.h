// Pieces the user-list functions share.
#ifndef VEXA_USER_LIST_INTERNAL_H
#define VEXA_USER_LIST_INTERNAL_H

#include <cstring>
#include <string>
#include <vector>

namespace vexauser {

// The items of a comma-separated list, empty ones kept.
inline std::vector<std::string> splitList(const char *list)
{
    std::vector<std::string> items;
    const char *p = list;
    for (;;) {
        const char *comma = strchr(p, ',');
        if (comma == nullptr) {
            items.emplace_back(p);
            return items;
        }
        items.emplace_back(p, static_cast<size_t>(comma - p));
        p = comma + 1;
    }
}

}  // namespace vexauser

#endif
