// Replaces or deletes the line that matches a pattern.
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileSetLine(const char *szFile, const char *szKey, const char *szLine, int flags)
{
    if (szFile == nullptr || szKey == nullptr || vralfile::HasNewline(szLine)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        std::string newLine = szLine != nullptr ? std::string(szLine) + "\n" : std::string();
        vralfile::UniqueFile fp;
        struct stat st {};
        int rc = vralfile::OpenOrCreate(szFile, "r", newLine, &fp, &st);
        if (rc != 0)
            return rc;

        long target = vralfile::FindLine(fp.get(), szKey, flags);
        if (target < 0)
            return -1;
        if (target == 0) {
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        vralfile::Rewriter out;
        long n = 0;
        rc = vralfile::RewriteLines(szFile, fp.get(), st, out, [&](std::string_view line) {
            out.Write(++n == target ? std::string_view(newLine) : line);
        });
        if (rc != 0)
            return -1;
        return out.Commit() == 0 ? 1 : -1;
    });
}
