// Pattern match of one line under the OP_* flags.
#include <cstring>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/unicode/vral_unicode.h"

namespace {

// Upper-cased copy sized by the length query, so text that grows when
// upper-cased is never cut to nothing.
bool UpperCopy(const char *sz, std::string *pOut)
{
    int cch = VRALUnicodeUTF8StrUpper(sz, nullptr, 0);
    if (cch < 0)
        return false;
    pOut->assign(static_cast<size_t>(cch) + 1, '\0');
    if (VRALUnicodeUTF8StrUpper(sz, pOut->data(), cch + 1) != cch)
        return false;
    pOut->resize(static_cast<size_t>(cch));
    return true;
}

}  // namespace

extern "C" int VRALFileLineMatch(const char *line, const char *pattern, int flags)
{
    if (line == nullptr || pattern == nullptr || flags < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    if (vralfile::IsComment(line))
        return 0;
    try {
        std::string upLine, upPattern;
        const char *szLine = line;
        const char *szPattern = pattern;
        if (flags & OP_MATCH_NOCASE) {
            if (!UpperCopy(line, &upLine) || !UpperCopy(pattern, &upPattern))
                return 0;
            szLine = upLine.c_str();
            szPattern = upPattern.c_str();
        }
        if (flags & OP_MATCH_BEGIN)
            return strstr(szLine, szPattern) == szLine ? 1 : 0;
        if (flags & OP_MATCH_END) {
            const char *end = strchr(szLine, '\n');
            size_t cchText = end != nullptr ? static_cast<size_t>(end - szLine) : strlen(szLine);
            size_t cchPattern = strlen(szPattern);
            if (cchPattern > cchText)
                return 0;
            return memcmp(szLine + cchText - cchPattern, szPattern, cchPattern) == 0 ? 1 : 0;
        }
        return strstr(szLine, szPattern) != nullptr ? 1 : 0;
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return 0;
    }
}
