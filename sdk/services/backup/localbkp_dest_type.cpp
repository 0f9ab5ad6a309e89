// The words dest_type is stored as.
#include <cstring>
#include <iterator>

#include "services/backup/backup_internal.h"

namespace vexabkp {

namespace {
    constexpr const char *kDestTypes[] = {"internal", "usb", "esata", "usbbkp", "esatabkp"};
}

const char *DestTypeWord(int type)
{
    return type >= 0 && type < static_cast<int>(std::size(kDestTypes)) ? kDestTypes[type] : "";
}

int DestTypeFromWord(const char *word)
{
    for (int i = 0; word != nullptr && i < static_cast<int>(std::size(kDestTypes)); ++i) {
        if (strcmp(word, kDestTypes[i]) == 0)
            return i;
    }
    return -1;
}

}  // namespace vexabkp
