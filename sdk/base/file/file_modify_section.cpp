// Rewrites a sectioned file replacing or deleting every section of a name.

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"

namespace vralfile {

int ModifySection(const char *szFile, const char *oldSection, const char *newSection, VRALSzHash *pMap, bool replace,
                  const char *format, const std::function<bool(std::string_view)> &keep)
{
    const char *name = newSection != nullptr ? newSection : oldSection;
    if (replace && !SectionWritable(name, pMap, format)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return Guarded([&] {
        Rewriter out;
        bool found = false;
        bool inOld = false;
        bool failed = false;
        int rc = RewriteExisting(szFile, out, [&](std::string_view line) {
            if (failed)
                return;
            int len = static_cast<int>(line.size());
            bool header = VRALFileIsSectionLine(line.data(), len) == 1;
            if (header && VRALFileMatchSection(line.data(), len, oldSection) == 1) {
                found = true;
                inOld = true;
                if (replace && VRALSzHashWriteFile(out.Stream(), name, pMap, format) != 0)
                    failed = true;
                return;
            }
            if (inOld && header)
                inOld = false;
            if (inOld && !keep(line))
                return;
            out.Write(line);
        });
        if (rc != 0 || failed || out.Commit() != 0)
            return -1;
        if (!found) {
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        return 1;
    });
}

}  // namespace vralfile

extern "C" int VRALFileModifySection(const char *szFile, const char *oldSection, const char *newSection,
                                     VRALSzHash *pMap, int mode, const char *format)
{
    if (szFile == nullptr || oldSection == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    // The old section keeps only its comment lines.
    return vralfile::ModifySection(szFile, oldSection, newSection, pMap, (mode & 1) != 0, format,
                                   [](std::string_view line) { return vralfile::IsComment(line); });
}
