#include <errno.h>

#include <cstring>
#include <ctime>

#include "services/log/log_internal.h"

namespace vexalog {

std::string packRecord(int level, unsigned event, const char *const texts[4])
{
    const char *strings[6] = {program_invocation_short_name, userName(), texts[0], texts[1], texts[2], texts[3]};
    size_t lens[6];
    size_t total = kFixed;
    for (int i = 0; i < 6; ++i) {
        lens[i] = strlen(strings[i]);
        total += lens[i];
    }
    if (total > kMaxRecord)
        return std::string();
    std::string rec(kFixed, '\0');
    auto *p = reinterpret_cast<unsigned char *>(rec.data());
    putU16(p, static_cast<uint32_t>(total));
    putU16(p + 2, static_cast<uint32_t>(level));
    putU32(p + 4, static_cast<uint32_t>(time(nullptr)));
    putU16(p + 8, static_cast<uint32_t>(lens[0]));
    putU16(p + 10, static_cast<uint32_t>(lens[1]));
    putU32(p + 12, event);
    for (int i = 0; i < 4; ++i)
        putU16(p + 16 + 2 * i, static_cast<uint32_t>(lens[2 + i]));
    for (int i = 0; i < 6; ++i)
        rec.append(strings[i], lens[i]);
    return rec;
}

std::string emptyHeader()
{
    std::string h(kFirst, '\0');
    auto *p = reinterpret_cast<unsigned char *>(h.data());
    memcpy(p, "VEXA", 4);
    putU32(p + 8, kFirst);
    putU32(p + 12, kFirst);
    return h;
}

}  // namespace vexalog
