// Removes every line of one key.
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileRemoveKey(const char *szFile, const char *szKey)
{
    // An empty key would match blank lines; others could never match.
    if (szFile == nullptr || !vralfile::KeyWritable(szKey)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        vralfile::Rewriter out;
        int nRemoved = 0;
        std::string key;
        int rc = vralfile::RewriteExisting(szFile, out, [&](std::string_view line) {
            size_t eq = 0;
            if (vralfile::IsKeyLine(line, szKey, &key, &eq))
                ++nRemoved;
            else
                out.Write(line);
        });
        if (rc != 0)
            return -1;
        return vralfile::CommitCount(out, nRemoved);
    });
}
