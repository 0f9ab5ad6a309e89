// Adds a line before or after the line that matches a pattern, first in the
// file, or at its end.
#include <string>
#include <utility>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

namespace {

// Appends in place, without a temporary file.
int AppendLine(vralfile::UniqueFile fp, const struct stat &st, std::string newLine)
{
    int last = vralfile::LastByte(fileno(fp.get()), st);
    if (last == -1) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    // End an unfinished last line first, so the two never run together.
    if (last >= 0 && last != '\n')
        newLine = "\n" + newLine;
    if (vralfile::AppendInPlace(fileno(fp.get()), newLine) != 0)
        return -1;
    if (fclose(fp.release()) != 0) {
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    return 1;
}

}  // namespace

extern "C" int VRALFileAddLine(const char *szFile, const char *szKey, const char *szLine, int flag)
{
    if (szFile == nullptr || szLine == nullptr || flag < 0 || vralfile::HasNewline(szLine)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        std::string newLine = std::string(szLine) + "\n";
        vralfile::UniqueFile fp;
        struct stat st {};
        int rc = vralfile::OpenOrCreate(szFile, "r+", newLine, &fp, &st);
        if (rc != 0)
            return rc;

        if (szKey == nullptr && (flag & OP_FIND_PREFIX))
            return AppendLine(std::move(fp), st, std::move(newLine));

        // Without a pattern the line becomes the first one.
        long target = 1;
        if (szKey != nullptr) {
            long hit = vralfile::FindLine(fp.get(), szKey, flag);
            if (hit < 0)
                return -1;
            if (hit == 0) {
                VRAL_ERR_SET(ERR_NOT_FOUND);
                return 0;
            }
            target = (flag & OP_FIND_PREFIX) ? hit + 1 : hit;
        }

        vralfile::Rewriter out;
        long n = 0;
        bool endsWithNewline = true;
        rc = vralfile::RewriteLines(szFile, fp.get(), st, out, [&](std::string_view line) {
            if (++n == target)
                out.Write(newLine);
            out.Write(line);
            endsWithNewline = vralfile::EndsWithNewline(line);
        });
        if (rc != 0)
            return -1;
        if (target > n) {
            if (!endsWithNewline)
                out.Write("\n");
            out.Write(newLine);
        }
        return out.Commit() == 0 ? 1 : -1;
    });
}
