#include <cstring>

#include "base/err/err_guard.h"
#include "services/share/share_internal.h"

namespace {

int shareParseSectionName(const char *line, char *buf, int cb)
{
    if (line == nullptr || buf == nullptr || cb <= 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const char *open = strchr(line, '[');
    const char *from = open != nullptr ? open + 1 : line;
    const size_t n = strnlen(from, static_cast<size_t>(cb) - 1);
    memcpy(buf, from, n);
    buf[n] = '\0';
    char *close = strrchr(buf, ']');
    if (close != nullptr)
        *close = '\0';
    return 0;
}

}  // namespace

extern "C" int VEXAShareParseSectionName(const char *line, char *buf, int cb)
{
    return vral::NoThrow(-1, [&] { return shareParseSectionName(line, buf, cb); });
}
