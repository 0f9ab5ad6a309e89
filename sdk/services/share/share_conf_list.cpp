// Keys and user lists of share sections as samba reads them: keys match
// ignoring ASCII case and blanks, a list item holding a blank is quoted.
#include <cstring>
#include <string>
#include <string_view>

#include "services/share/share_internal.h"

namespace {

// The keys a share section is read by, in this system's spelling.
const char *const kKeys[] = {"comment",    "path",     "invalid users", "write list",     "read list",
                             "guest ok",   "writeable", "browseable",   "ftp write only", "valid users"};
const char *const kListKeys[] = {"invalid users", "valid users", "read list", "write list"};

bool blank(char c)
{
    return c == ' ' || c == '\t';
}

// Lower-cased, blanks left out.
std::string squeezed(std::string_view key)
{
    std::string s;
    for (char c : key) {
        if (!blank(c) && c != '\r' && c != '\n')
            s += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    }
    return s;
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && (blank(s.back()) || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

// The items between "," each made over by fn, joined with "," again.
template <typename Fn>
std::string eachItem(std::string_view list, Fn fn)
{
    std::string out;
    while (true) {
        const size_t comma = list.find(',');
        out += fn(list.substr(0, comma));
        if (comma == std::string_view::npos)
            return out;
        out += ',';
        list.remove_prefix(comma + 1);
    }
}

}  // namespace

namespace vexashare {

const char *confKey(std::string_view key)
{
    const std::string k = squeezed(key);
    for (const char *known : kKeys) {
        if (k == squeezed(known))
            return known;
    }
    return nullptr;
}

bool isListKey(const char *key)
{
    for (const char *known : kListKeys) {
        if (key != nullptr && strcmp(key, known) == 0)
            return true;
    }
    return false;
}

std::string listFromConf(std::string_view raw)
{
    return eachItem(raw, [](std::string_view item) {
        const std::string_view t = trimmed(item);
        if (t.size() >= 2 && t.front() == '"' && t.back() == '"')
            return std::string(t.substr(1, t.size() - 2));
        return std::string(item);
    });
}

std::string listToConf(std::string_view list)
{
    return eachItem(list, [](std::string_view item) {
        // samba splits a list at blanks too
        if (item.find_first_of(" \t") != std::string_view::npos)
            return "\"" + std::string(item) + "\"";
        return std::string(item);
    });
}

}  // namespace vexashare
