// Section header tests: any header, and the header of one section.
#include <cstring>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"

namespace {

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

extern "C" int VRALFileIsSectionLine(const char *line, int len)
{
    if (line == nullptr || len <= 0 || line[0] != '[')
        return 0;
    for (int i = len - 1; i > 0; --i) {
        if (!IsSpace(line[i]))
            return line[i] == ']' ? 1 : 0;
    }
    return 0;
}

extern "C" int VRALFileMatchSection(const char *line, int len, const char *section)
{
    if (line == nullptr || section == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    size_t cchSection = strlen(section);
    if (len < 0 || static_cast<size_t>(len) < cchSection + 2)
        return 0;
    if (line[0] != '[' || memcmp(line + 1, section, cchSection) != 0 || line[cchSection + 1] != ']')
        return 0;
    for (size_t i = cchSection + 2; i < static_cast<size_t>(len); ++i) {
        if (!IsSpace(line[i]))
            return 0;
    }
    return 1;
}
