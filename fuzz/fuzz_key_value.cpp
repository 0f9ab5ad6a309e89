// The key="value" reader and writer on arbitrary file content.  Input: a
// key line, a value line, then the file.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/file/vral_file.h"
#include "scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string rest(reinterpret_cast<const char *>(data), size);
    std::string key = fuzzscratch::TakeLine(rest);
    std::string value = fuzzscratch::TakeLine(rest);
    key = key.c_str();  // up to a NUL byte
    value = value.c_str();
    const std::string &path = fuzzscratch::Path("keyvalue");
    if (!fuzzscratch::Write(path, reinterpret_cast<const uint8_t *>(rest.data()), rest.size()))
        return 0;

    char buf[256];
    int cb = VRALFileGetKeyValue(path.c_str(), key.c_str(), nullptr, 0, 0);
    int r = VRALFileGetKeyValue(path.c_str(), key.c_str(), buf, sizeof buf, 0);
    if (cb > 0 && cb <= static_cast<int>(sizeof buf) && (r != cb || strlen(buf) + 1 != static_cast<size_t>(cb)))
        abort();
    VRALFileGetKeyValue(path.c_str(), key.c_str(), buf, sizeof buf, OP_FIND_LAST);
    VRALFileKeyValueMatch(path.c_str(), key.c_str(), value.c_str());

    if (VRALFileSetKeyValue(path.c_str(), key.c_str(), value.c_str(), "%s=\"%s\"\n") == 1) {
        // What was set reads back whenever the key and value are plain.
        bool plain = !key.empty() && key.find_first_of("=\"#; \t\r") == std::string::npos &&
                     !value.empty() && value.size() < sizeof buf &&
                     value.find_first_of("\" \t\r") == std::string::npos;
        if (plain) {
            if (VRALFileGetKeyValue(path.c_str(), key.c_str(), buf, sizeof buf, 0) != static_cast<int>(value.size()) + 1 ||
                value != buf)
                abort();
        }
    }
    VRALFileRemoveKey(path.c_str(), key.c_str());
    if (!key.empty())
        VRALFileReplaceSubStr(path.c_str(), key.c_str(), value.c_str());
    return 0;
}
