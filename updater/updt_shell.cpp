#include "updt_shell.h"

#include <cstring>

std::string UPDTShellQuoteString(std::string_view word)
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

extern "C" int UPDTShellQuote(const char *word, char *buf, size_t cb)
{
    if (buf != nullptr && cb > 0)
        buf[0] = '\0';
    if (word == nullptr || buf == nullptr)
        return -1;
    std::string quoted = UPDTShellQuoteString(word);
    if (quoted.size() + 1 > cb)
        return -1;
    std::memcpy(buf, quoted.c_str(), quoted.size() + 1);
    return static_cast<int>(quoted.size());
}
