// The sfdisk partition-line parser on arbitrary lines.  Input: the line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "services/raid/raid_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string line(reinterpret_cast<const char *>(data), size);
    unsigned long start = 0, id = 0;
    const long long r = vexa::raid::parsePartitionLine(line, &start, &id);
    if (r < -1)
        abort();
    if (r < 0)
        return 0;
    // Start and size are read as they stand in the line: never a negative
    // field wrapped round, never digits past a NUL.
    const std::string text = line.substr(0, line.find('\0'));
    if (text.find(std::to_string(r)) == std::string::npos || text.find(std::to_string(start)) == std::string::npos)
        abort();
    // A NUL ends the line: what follows it changes nothing.
    unsigned long start2 = 0, id2 = 0;
    if (vexa::raid::parsePartitionLine(text + std::string("\0 1 2 3 4 5 ", 12), &start2, &id2) != r || start2 != start ||
        id2 != id)
        abort();
    return 0;
}
