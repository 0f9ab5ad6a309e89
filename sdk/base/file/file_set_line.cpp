// Replaces or deletes the line that matches a pattern.
#include <cerrno>
#include <new>
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
    try {
        std::string newLine = szLine != nullptr ? std::string(szLine) + "\n" : std::string();
        vralfile::UniqueFile fp(vralfile::OpenStream(szFile, "r"));
        if (!fp) {
            if (errno != ENOENT) {
                VRAL_ERR_SET(ERR_OPEN_FAILED);
                return -1;
            }
            return vralfile::CreateMissing(szFile, newLine);
        }
        struct stat st {};
        if (vralfile::StatForRewrite(fp.get(), &st) != 0)
            return -1;

        long target = 0;
        {
            vralfile::LineReader finder(fp.get());
            long n = 0;
            while (finder.Next()) {
                ++n;
                if (VRALFileLineMatch(finder.Data(), szKey, flags)) {
                    target = n;
                    if (!(flags & OP_FIND_LAST))
                        break;
                }
            }
            if (finder.Failed()) {
                VRAL_ERR_SET(ERR_READ_FAILED);
                return -1;
            }
        }
        if (target == 0) {
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        rewind(fp.get());

        vralfile::Rewriter out;
        if (out.Begin(szFile, st) != 0)
            return -1;
        vralfile::LineReader reader(fp.get());
        long n = 0;
        while (reader.Next())
            out.Write(++n == target ? std::string_view(newLine) : reader.Line());
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        return out.Commit() == 0 ? 1 : -1;
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}
