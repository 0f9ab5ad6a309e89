// Replaces every occurrence of a text throughout a file.
#include <algorithm>
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
    return vralfile::Guarded([&] {
        vralfile::Rewriter out;
        int nReplaced = 0;
        std::string changed;
        int rc = vralfile::RewriteExisting(szFile, out, [&](std::string_view line) {
            // Left to right without overlap; inserted text is never searched.
            changed.clear();
            size_t pos = 0;
            for (size_t hit; (hit = line.find(oldText, pos)) != std::string_view::npos; pos = hit + oldText.size()) {
                changed.append(line.substr(pos, hit - pos));
                changed.append(newText);
                ++nReplaced;
            }
            changed.append(line.substr(pos));
            out.Write(changed);
        });
        if (rc != 0)
            return -1;
        return vralfile::CommitCount(out, nReplaced);
    });
}
