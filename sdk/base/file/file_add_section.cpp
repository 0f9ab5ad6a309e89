// Appends a new section at the end of a sectioned file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "base/hash/vral_hash.h"

namespace {

// The section's text, formed in memory so the file only ever gets it whole.
bool SectionText(const char *section, VRALSzHash *pMap, const char *format, std::string *pText)
{
    char *buf = nullptr;
    size_t cb = 0;
    FILE *mem = open_memstream(&buf, &cb);
    if (mem == nullptr) {
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
        return false;
    }
    int rc = VRALSzHashWriteFile(mem, section, pMap, format);
    bool ok = fclose(mem) == 0 && rc == 0;
    if (ok)
        pText->append(buf, cb);
    else if (rc == 0)
        VRAL_ERR_SET(ERR_OUT_OF_MEMORY);
    free(buf);
    return ok;
}

}  // namespace

extern "C" int ErrVRALFileAddSection(const char *szFile, const char *section, VRALSzHash *pMap, const char *format)
{
    if (section == nullptr || szFile == nullptr || pMap == nullptr ||
        !vralfile::SectionWritable(section, pMap, format)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vralfile::Guarded([&] {
        vralfile::UniqueFile fp(vralfile::OpenTarget(szFile, "r+"));
        if (!fp) {
            VRAL_ERR_SET(ERR_OPEN_FAILED);
            return -1;
        }
        vralfile::LineReader reader(fp.get());
        bool any = false;
        bool endsWithNewline = false;
        while (reader.Next()) {
            const char *line = reader.Data();
            int len = static_cast<int>(reader.Length());
            if (VRALFileIsSectionLine(line, len) && VRALFileMatchSection(line, len, section) == 1)
                return 0;
            any = true;
            endsWithNewline = reader.EndsWithNewline();
        }
        if (reader.Failed()) {
            VRAL_ERR_SET(ERR_READ_FAILED);
            return -1;
        }
        // An empty file gets an empty first line, as it always did.
        std::string text = (!any || !endsWithNewline) ? "\n" : "";
        if (!SectionText(section, pMap, format, &text))
            return -1;
        if (vralfile::AppendInPlace(fileno(fp.get()), text) != 0)
            return -1;
        if (fclose(fp.release()) != 0) {
            VRAL_ERR_SET(ERR_WRITE_FAILED);
            return -1;
        }
        return 1;
    });
}
