// Reads the line that matches a pattern.
#include <cstring>
#include <new>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileGetLine(const char *szFile, const char *szKey, char *buf, int cb, int flags)
{
    if (szFile == nullptr || szKey == nullptr || buf == nullptr || cb <= 0 || flags < 0) {
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
        while (reader.Next()) {
            const char *line = reader.Data();
            if (!VRALFileLineMatch(line, szKey, flags))
                continue;
            memset(buf, 0, static_cast<size_t>(cb));
            size_t cch = strlen(line);
            if (cch > 0 && line[cch - 1] == '\n')
                --cch;
            cbResult = cch + 1;
            if (cbResult <= static_cast<size_t>(cb))
                memcpy(buf, line, cch);
            if (!(flags & OP_FIND_LAST))
                break;
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        if (cbResult > static_cast<size_t>(cb)) {
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
