// Checks of the text that callers ask the engine to write.
#include <cstring>

#include "base/file/file_internal.h"

namespace vralfile {

bool HasNewline(const char *sz)
{
    return sz != nullptr && strchr(sz, '\n') != nullptr;
}

bool KeyFormatValid(const char *format)
{
    if (format == nullptr)
        return false;
    int nString = 0;
    for (const char *p = format; *p != '\0'; ++p) {
        if (*p != '%')
            continue;
        if (p[1] == '%') {
            ++p;
            continue;
        }
        // Anything but a bare "%s" would read arguments that are not there.
        if (p[1] != 's')
            return false;
        ++nString;
        ++p;
    }
    return nString == 2;
}

}  // namespace vralfile
