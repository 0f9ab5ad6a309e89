// Parsing of one partition line of sfdisk.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "services/raid/raid_internal.h"

namespace vexa::raid {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// The fields of a line split at runs of blanks and tabs, with whether each
// is followed by a blank or a tab.
struct Field {
    std::string_view text;
    bool blankAfter;
};

std::vector<Field> splitFields(std::string_view line)
{
    std::vector<Field> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        size_t j = i;
        while (j < line.size() && !isBlank(line[j]))
            ++j;
        fields.push_back({line.substr(i, j - i), j < line.size()});
        i = j;
    }
    return fields;
}

// A field is a number only when it is digits from its first character on:
// strtoull alone would skip leading white space and take a sign, reading
// "-1" as the largest value.
bool parseNumber(std::string_view text, int base, unsigned long long &out)
{
    if (text.empty() || !(base == 16 ? isxdigit(static_cast<unsigned char>(text[0]))
                                     : isdigit(static_cast<unsigned char>(text[0]))))
        return false;
    std::string s(text);
    errno = 0;
    char *end = nullptr;
    out = strtoull(s.c_str(), &end, base);
    return errno == 0 && end != nullptr && *end == '\0';
}

}  // namespace

long long parsePartitionLine(std::string_view line, unsigned long *pStart, unsigned long *pId)
{
    // The line is text: a NUL ends it, as it ends the line that sfdisk
    // printed for a reader of C strings.
    line = line.substr(0, line.find('\0'));
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    const std::vector<Field> fields = splitFields(line);
    // start, size and type id are fields 2, 4 and 5, each followed by a blank
    if (fields.size() < 5 || !fields[1].blankAfter || !fields[3].blankAfter || !fields[4].blankAfter)
        return -1;
    unsigned long long start = 0, size = 0, id = 0;
    if (!parseNumber(fields[1].text, 10, start) || !parseNumber(fields[3].text, 10, size) ||
        !parseNumber(fields[4].text, 16, id))
        return -1;
    if (size > static_cast<unsigned long long>(INT64_MAX))
        return -1;
    *pStart = static_cast<unsigned long>(start);
    *pId = static_cast<unsigned long>(id);
    return static_cast<long long>(size);
}

}  // namespace vexa::raid
