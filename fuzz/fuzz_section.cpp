// The sectioned-file reader and rewriter on arbitrary content.  Input: a
// section-name line, then the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string rest(reinterpret_cast<const char *>(data), size);
    std::string section = fuzzscratch::TakeLine(rest).c_str();

    // Header tests on every line of the input, with its exact length.
    for (size_t pos = 0; pos < rest.size();) {
        size_t end = rest.find('\n', pos);
        end = end == std::string::npos ? rest.size() : end + 1;
        const char *line = rest.data() + pos;
        int len = static_cast<int>(end - pos);
        int match = VRALFileMatchSection(line, len, section.c_str());
        if (match < 0 || match > 1 || (match == 1 && VRALFileIsSectionLine(line, len) != 1))
            abort();
        pos = end;
    }

    const std::string &path = fuzzscratch::Path("section");
    if (!fuzzscratch::Write(path, reinterpret_cast<const uint8_t *>(rest.data()), rest.size()))
        return 0;
    VRALSzHash *map = VRALSzHashAlloc(512);
    if (map == nullptr)
        return 0;
    int n = VRALFileGetSection(path.c_str(), section.c_str(), &map);
    if (n > 0) {
        // A section replaced by its own pairs still reads back.
        if (VRALFileModifySection(path.c_str(), section.c_str(), nullptr, map, 1, "\t%s=\"%s\"\n") == 1) {
            VRALSzHash *back = VRALSzHashAlloc(512);
            if (back != nullptr && VRALFileGetSection(path.c_str(), section.c_str(), &back) < 0)
                abort();
            VRALSzHashFree(back);
        }
    }
    ErrVRALFileAddSection(path.c_str(), section.c_str(), map, nullptr);
    VRALFileModifySection(path.c_str(), section.c_str(), nullptr, nullptr, 0, nullptr);
    VRALSzHashFree(map);
    return 0;
}
