// Checks of the text that callers ask the engine to write.
#include <cstring>
#include <string_view>

#include "base/file/file_internal.h"

namespace vralfile {

bool HasNewline(const char *sz)
{
    return sz != nullptr && strchr(sz, '\n') != nullptr;
}

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool KeyWritable(const char *szKey)
{
    if (szKey == nullptr)
        return false;
    std::string_view key(szKey);
    if (key.empty() || key.find_first_of("=\n") != std::string_view::npos)
        return false;
    // A key line's key is read back trimmed of blanks and of one pair of
    // enclosing quotes, and a line starting "#" or ";" is a comment: such a
    // key would never be found again, and every write would add a line.
    if (IsBlank(key.front()) || IsBlank(key.back()) || key.front() == '#' || key.front() == ';')
        return false;
    return !(key.size() > 1 && key.front() == '"' && key.back() == '"');
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
