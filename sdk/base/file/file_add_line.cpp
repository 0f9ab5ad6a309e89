// Adds a line before or after the line that matches a pattern, first in the
// file, or at its end.
#include <cerrno>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileAddLine(const char *szFile, const char *szKey, const char *szLine, int flag)
{
    if (szFile == nullptr || szLine == nullptr || flag < 0 || vralfile::HasNewline(szLine)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    try {
        std::string newLine = std::string(szLine) + "\n";
        vralfile::UniqueFile fp(vralfile::OpenStream(szFile, "r+"));
        if (!fp) {
            // Only a missing file is made anew; anything else would lose it.
            if (errno != ENOENT) {
                VRAL_ERR_SET(ERR_OPEN_FAILED);
                return -1;
            }
            return vralfile::CreateMissing(szFile, newLine);
        }
        struct stat st {};
        if (vralfile::StatForRewrite(fp.get(), &st) != 0)
            return -1;

        if (szKey == nullptr && (flag & OP_FIND_PREFIX)) {
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
            FILE *raw = fp.release();
            if (fclose(raw) != 0) {
                VRAL_ERR_SET(ERR_WRITE_FAILED);
                return -1;
            }
            return 1;
        }

        long target = 1;
        if (szKey != nullptr) {
            vralfile::LineReader finder(fp.get());
            long n = 0;
            target = 0;
            while (finder.Next()) {
                ++n;
                if (VRALFileLineMatch(finder.Data(), szKey, flag)) {
                    target = (flag & OP_FIND_PREFIX) ? n + 1 : n;
                    if (!(flag & OP_FIND_LAST))
                        break;
                }
            }
            if (finder.Failed()) {
                VRAL_ERR_SET(ERR_READ_FAILED);
                return -1;
            }
            if (target == 0) {
                VRAL_ERR_SET(ERR_NOT_FOUND);
                return 0;
            }
            rewind(fp.get());
        }

        vralfile::Rewriter out;
        if (out.Begin(szFile, st) != 0)
            return -1;
        vralfile::LineReader reader(fp.get());
        long n = 0;
        bool endsWithNewline = true;
        while (reader.Next()) {
            if (++n == target)
                out.Write(newLine);
            out.Write(reader.Line());
            endsWithNewline = reader.EndsWithNewline();
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        if (target > n) {
            if (!endsWithNewline)
                out.Write("\n");
            out.Write(newLine);
        }
        return out.Commit() == 0 ? 1 : -1;
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}
