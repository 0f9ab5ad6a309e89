#include <errno.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "services/log/log_internal.h"

using namespace vexalog;

unsigned short VEXALogRecordPack(unsigned char **ppRecord, int level, unsigned event, const char *text1,
                                 const char *text2, const char *text3, const char *text4)
{
    *ppRecord = nullptr;
    const char *strings[6] = {program_invocation_short_name, VEXALogGetUserName(), text1, text2, text3, text4};
    size_t lens[6];
    size_t total = kFixed;
    for (int i = 0; i < 6; ++i) {
        lens[i] = strlen(strings[i]);
        total += lens[i];
    }
    if (total > kMaxRecord)
        return 0;
    auto *p = static_cast<unsigned char *>(calloc(1, total));
    if (p == nullptr)
        return 0;
    putU16(p, static_cast<uint32_t>(total));
    putU16(p + 2, static_cast<uint32_t>(level));
    putU32(p + 4, static_cast<uint32_t>(time(nullptr)));
    putU16(p + 8, static_cast<uint32_t>(lens[0]));
    putU16(p + 10, static_cast<uint32_t>(lens[1]));
    putU32(p + 12, event);
    for (int i = 0; i < 4; ++i)
        putU16(p + 16 + 2 * i, static_cast<uint32_t>(lens[2 + i]));
    size_t at = kFixed;
    for (int i = 0; i < 6; ++i) {
        memcpy(p + at, strings[i], lens[i]);
        at += lens[i];
    }
    *ppRecord = p;
    return static_cast<unsigned short>(total);
}
