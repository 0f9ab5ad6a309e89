// Removes every line of one key.
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileRemoveKey(const char *szFile, const char *szKey)
{
    // An empty key would match blank lines.
    if (szFile == nullptr || szKey == nullptr || szKey[0] == '\0') {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    try {
        vralfile::UniqueFile fp(vralfile::OpenStream(szFile, "r"));
        if (!fp) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        struct stat st {};
        if (vralfile::StatForRewrite(fp.get(), &st) != 0)
            return -1;
        vralfile::Rewriter out;
        if (out.Begin(szFile, st) != 0)
            return -1;
        vralfile::LineReader reader(fp.get());
        int nRemoved = 0;
        std::string key;
        while (reader.Next()) {
            std::string_view line = reader.Line();
            size_t eq = 0;
            if (!vralfile::IsComment(line) && vralfile::LineKey(line, &key, &eq) && key == szKey) {
                ++nRemoved;
                continue;
            }
            out.Write(line);
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        if (nRemoved == 0) {
            out.Abort();
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        return out.Commit() == 0 ? nRemoved : -1;
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}
