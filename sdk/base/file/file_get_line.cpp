// Reads the line that matches a pattern.
#include <cstring>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileGetLine(const char *szFile, const char *szKey, char *buf, int cb, int flags)
{
    if (szFile == nullptr || szKey == nullptr || buf == nullptr || cb <= 0 || flags < 0) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        size_t cbResult = 0;
        int rc = vralfile::ScanLines(szFile, [&](vralfile::LineReader &reader) {
            const char *line = reader.Data();
            if (!VRALFileLineMatch(line, szKey, flags))
                return true;
            memset(buf, 0, static_cast<size_t>(cb));
            // The newline goes; a carriage return before it stays.
            size_t cch = strlen(line);
            if (cch > 0 && line[cch - 1] == '\n')
                --cch;
            cbResult = cch + 1;
            if (vralfile::Fits(cbResult, cb))
                memcpy(buf, line, cch);
            return (flags & OP_FIND_LAST) != 0;
        });
        if (rc <= 0)
            return rc;
        return vralfile::ReadResult(cbResult, true, cb);
    });
}
