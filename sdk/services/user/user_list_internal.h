// Pieces the user-list functions share.
#ifndef VEXA_USER_LIST_INTERNAL_H
#define VEXA_USER_LIST_INTERNAL_H

#include <cstring>
#include <string>
#include <vector>

namespace vexauser {

// The items of a comma-separated list, empty ones kept, each without the
// blanks and tabs around it (no account name begins or ends with one).
inline std::vector<std::string> splitList(const char *list)
{
    std::vector<std::string> items;
    const char *p = list;
    for (;;) {
        const char *comma = strchr(p, ',');
        const size_t len = comma != nullptr ? static_cast<size_t>(comma - p) : strlen(p);
        std::string item(p, len);
        const size_t first = item.find_first_not_of(" \t");
        item = first == std::string::npos ? std::string() : item.substr(first, item.find_last_not_of(" \t") - first + 1);
        items.push_back(std::move(item));
        if (comma == nullptr)
            return items;
        p = comma + 1;
    }
}

}  // namespace vexauser

#endif
