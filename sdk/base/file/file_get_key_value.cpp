// Reads the value of one key from a key="value" file.
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileGetKeyValue(const char *szFile, const char *szKey, char *buf, int cb, int flags)
{
    if (szFile == nullptr || szKey == nullptr || flags < 0 || cb < 0 || (buf == nullptr && cb != 0)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    try {
        vralfile::UniqueFile fp(vralfile::OpenStream(szFile, "r"));
        if (!fp) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        if (vralfile::IsDirectory(fp.get())) {
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        vralfile::LineReader reader(fp.get());
        size_t cbResult = 0;
        std::string key, value;
        while (reader.Next()) {
            std::string_view line = reader.Line();
            size_t eq = 0;
            if (vralfile::IsComment(line) || !vralfile::LineKey(line, &key, &eq) || key != szKey)
                continue;
            if (!vralfile::LineValue(line, eq, &value)) {
                // A key line without a value ends a first-match search;
                // the last-match search keeps what it found before.
                if (!(flags & OP_FIND_LAST))
                    break;
                continue;
            }
            cbResult = value.size() + 1;
            if (buf != nullptr && cbResult <= static_cast<size_t>(cb))
                memcpy(buf, value.c_str(), cbResult);
            if (!(flags & OP_FIND_LAST))
                break;
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        if (cbResult > INT_MAX || (buf != nullptr && cbResult > static_cast<size_t>(cb))) {
            VRAL_ERR_SET(ERR_BUFFER_TOO_SMALL);
            return -1;
        }
        if (cbResult == 0) {
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        return static_cast<int>(cbResult);
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}
