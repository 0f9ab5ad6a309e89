// Rewrites a sectioned file replacing or deleting every section of a name.
#include <new>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"

extern "C" int VRALFileModifySection(const char *szFile, const char *oldSection, const char *newSection,
                                     VRALSzHash *pMap, int mode, const char *format)
{
    if (szFile == nullptr || oldSection == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    const bool replace = (mode & 1) != 0;
    const char *name = newSection != nullptr ? newSection : oldSection;
    if (replace && !vralfile::SectionWritable(name, pMap, format)) {
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
        bool found = false;
        bool inOld = false;
        while (reader.Next()) {
            const char *line = reader.Data();
            int len = static_cast<int>(reader.Length());
            bool header = VRALFileIsSectionLine(line, len) == 1;
            if (header && VRALFileMatchSection(line, len, oldSection) == 1) {
                found = true;
                inOld = true;
                if (replace && VRALSzHashWriteFile(out.Stream(), name, pMap, format) != 0)
                    return -1;
                continue;
            }
            if (inOld && header)
                inOld = false;
            // The old section keeps only its comment lines.
            if (inOld && !vralfile::IsComment(reader.Line()))
                continue;
            out.Write(reader.Line());
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        if (out.Commit() != 0)
            return -1;
        if (!found) {
            VRAL_ERR_SET(ERR_NOT_FOUND);
            return 0;
        }
        return 1;
    } catch (const std::bad_alloc &) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return -1;
    }
}
