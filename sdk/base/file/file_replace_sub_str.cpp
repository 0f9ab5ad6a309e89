// Replaces every occurrence of a text throughout a file.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"

extern "C" int VRALFileReplaceSubStr(const char *szFile, const char *szOld, const char *szNew)
{
    if (szFile == nullptr || szOld == nullptr || szNew == nullptr || szOld[0] == '\0') {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    std::string_view oldText(szOld), newText(szNew);
    // The replacement may keep a line's end but never add lines of its own.
    if (std::count(newText.begin(), newText.end(), '\n') > std::count(oldText.begin(), oldText.end(), '\n')) {
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
        int nReplaced = 0;
        std::string changed;
        while (reader.Next()) {
            std::string_view line = reader.Line();
            changed.clear();
            size_t pos = 0;
            for (size_t hit; (hit = line.find(oldText, pos)) != std::string_view::npos; pos = hit + oldText.size()) {
                changed.append(line.substr(pos, hit - pos));
                changed.append(newText);
                ++nReplaced;
            }
            changed.append(line.substr(pos));
            out.Write(changed);
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        if (nReplaced == 0) {
            out.Abort();
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        return out.Commit() == 0 ? nReplaced : -1;
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}
