#include <cstdio>
#include <cstring>

#include "base/file/vral_file.h"
#include "services/kernel/vexa_kernel.h"
#include "services/raid/vexa_raid.h"

namespace {

bool endsWith(const char *s, size_t len, const char *suffix)
{
    const size_t n = strlen(suffix);
    return len >= n && memcmp(s + len - n, suffix, n) == 0;
}

bool hwVersionIsBantam()
{
    FILE *fp = fopen(VEXA_HW_VERSION_PATH, "re");
    if (fp == nullptr)
        return false;
    char line[100] = {};
    const bool read = fgets(line, sizeof line, fp) != nullptr;
    fclose(fp);
    if (!read)
        return false;
    size_t len = strlen(line);
    if (len > 0)
        line[--len] = '\0';  // the newline
    return endsWith(line, len, "-b");
}

}  // namespace

extern "C" int VEXAIsBantamModel(void)
{
    char unique[100] = {};
    if (VRALFileGetKeyValue("/etc.defaults/vexainfo.conf", "unique", unique, sizeof unique, 0) <= 0)
        return 0;
    const size_t len = strlen(unique);
    if (len < 6)
        return 0;
    if (strncmp(unique, "sdkdebug", 8) == 0)
        return 1;
    if (endsWith(unique, len, "_bantam"))
        return 1;
    return hwVersionIsBantam() ? 1 : 0;
}
