// Reads the value of one key from a key="value" file.
#include <cstring>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileGetKeyValue(const char *szFile, const char *szKey, char *buf, int cb, int flags)
{
    if (szFile == nullptr || szKey == nullptr || flags < 0 || (buf == nullptr && cb != 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        size_t cbResult = 0;
        std::string key, value;
        int rc = vralfile::ScanLines(szFile, [&](vralfile::LineReader &reader) {
            std::string_view line = reader.Line();
            size_t eq = 0;
            if (!vralfile::IsKeyLine(line, szKey, &key, &eq))
                return true;
            if (!vralfile::LineValue(line, eq, &value)) {
                // A key line without a value ends a first-match search;
                // the last-match search keeps what it found before.
                return (flags & OP_FIND_LAST) != 0;
            }
            cbResult = value.size() + 1;
            if (buf != nullptr && vralfile::Fits(cbResult, cb))
                memcpy(buf, value.c_str(), cbResult);
            return (flags & OP_FIND_LAST) != 0;
        });
        if (rc <= 0)
            return rc;
        return vralfile::ReadResult(cbResult, buf != nullptr, cb);
    });
}
