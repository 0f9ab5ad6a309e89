#include <cstring>

#include "base/err/err_guard.h"
#include "base/string/vral_string.h"

std::string VRALStrShellQuoteString(std::string_view word)
{
    std::string out;
    out.reserve(word.size() + 2);
    out += '\'';
    for (char c : word) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    out += '\'';
    return out;
}

extern "C" int VRALStrShellQuote(const char *szWord, char *szBuf, size_t cbBuf)
{
    if (szBuf != nullptr && cbBuf > 0)
        szBuf[0] = '\0';
    if (szWord == nullptr || szBuf == nullptr)
        return -1;
    return vral::NoThrow(-1, [&] {
        const std::string quoted = VRALStrShellQuoteString(szWord);
        if (quoted.size() + 1 > cbBuf)
            return -1;
        std::memcpy(szBuf, quoted.c_str(), quoted.size() + 1);
        return static_cast<int>(quoted.size());
    });
}
