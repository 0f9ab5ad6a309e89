// Key of a configuration line and the test whether a line holds a key.
#include <cstring>
#include <new>
#include <string>
#include <string_view>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/string/vral_string.h"

namespace vralfile {

static std::string_view UpToNul(std::string_view line)
{
    size_t nul = line.find('\0');
    return nul == std::string_view::npos ? line : line.substr(0, nul);
}

static std::string Trimmed(std::string_view text)
{
    std::string s(text);
    int n = VRALStrTrimSpace(s.data(), nullptr);
    s.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return s;
}

bool LineKey(std::string_view line, std::string *pKey, size_t *pEq)
{
    line = UpToNul(line);
    size_t pos = 0;
    while (pos < line.size()) {
        size_t eq = line.find('=', pos);
        size_t end = eq == std::string_view::npos ? line.size() : eq;
        if (end > pos) {
            *pKey = Trimmed(line.substr(pos, end - pos));
            *pEq = eq;
            return true;
        }
        pos = end + 1;
    }
    return false;
}

bool IsKeyLine(std::string_view line, const char *szKey, std::string *pScratch, size_t *pEq)
{
    return !IsComment(line) && LineKey(line, pScratch, pEq) && *pScratch == szKey;
}

bool LineValue(std::string_view line, size_t eq, std::string *pValue)
{
    line = UpToNul(line);
    if (eq == std::string_view::npos || eq >= line.size())
        return false;
    std::string_view rest = line.substr(eq + 1);
    if (!rest.empty() && rest.back() == '\n')
        rest.remove_suffix(1);
    if (rest.empty())
        return false;
    *pValue = Trimmed(rest);
    return true;
}

}  // namespace vralfile

extern "C" int VRALFileLineKeyMatch(char *line, const char *szKey)
{
    if (line == nullptr || szKey == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return 0;
    }
    try {
        std::string_view text(line);
        if (vralfile::IsComment(text))
            return 0;
        std::string key;
        size_t eq = 0;
        if (!vralfile::LineKey(text, &key, &eq))
            return 0;
        // Cut at the "=" that ends the key: callers reuse the key's text.
        if (eq != std::string_view::npos)
            line[eq] = '\0';
        return key == szKey ? 1 : 0;
    } catch (const std::bad_alloc &) {
        return 0;
    }
}
