// The line matcher and the key match on arbitrary lines and patterns.
// Input: two bytes of flags, the pattern up to a NUL byte, then the line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/file/vral_file.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    int flags = (data[0] | (data[1] << 8)) &
                (OP_FIND_LAST | OP_MATCH_BEGIN | OP_MATCH_END | OP_FIND_PREFIX | OP_MATCH_NOCASE);
    std::string rest(reinterpret_cast<const char *>(data + 2), size - 2);
    std::string pattern = rest.c_str();
    std::string line = pattern.size() < rest.size() ? rest.substr(pattern.size() + 1) : std::string();
    line = line.c_str();

    int r = VRALFileLineMatch(line.c_str(), pattern.c_str(), flags);
    if (r != 0 && r != 1)
        abort();
    // Without case folding a match implies the pattern occurs in the line.
    if (r == 1 && !(flags & OP_MATCH_NOCASE) && line.find(pattern) == std::string::npos)
        abort();

    std::string copy = line;
    r = VRALFileLineKeyMatch(copy.data(), pattern.c_str());
    if (r != 0 && r != 1)
        abort();

    // The same through a file: a line found reads back within the buffer.
    const std::string &path = fuzzscratch::Path("linematch");
    if (!fuzzscratch::Write(path, reinterpret_cast<const uint8_t *>(line.data()), line.size()))
        return 0;
    char buf[128];
    r = VRALFileGetLine(path.c_str(), pattern.c_str(), buf, sizeof buf, flags);
    if (r > 0 && strlen(buf) + 1 != static_cast<size_t>(r))
        abort();
    VRALFileAddLine(path.c_str(), pattern.empty() ? nullptr : pattern.c_str(), "added", flags);
    VRALFileSetLine(path.c_str(), pattern.c_str(), nullptr, flags);
    return 0;
}
