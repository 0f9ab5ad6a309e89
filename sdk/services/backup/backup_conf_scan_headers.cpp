// Walks the section headers of a backup-set file.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "base/file/vral_file.h"
#include "services/backup/backup_internal.h"

namespace vexabkp {

int ScanHeaders(const char *szPath, const std::function<bool(std::string_view)> &take)
{
    struct stat st { };
    if (stat(szPath, &st) != 0)
        return 0;
    std::unique_ptr<FILE, int (*)(FILE *)> fp(fopen(szPath, "re"), fclose);
    if (!fp) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vralfile::LineReader line(fp.get());
    while (line.Next()) {
        const ssize_t len = static_cast<ssize_t>(line.Length());
        if (VRALFileIsSectionLine(line.Data(), static_cast<int>(len)) == 1 &&
            !take(std::string_view(line.Data(), static_cast<size_t>(len))))
            return 1;
    }
    if (line.Failed()) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    return 1;
}

}  // namespace vexabkp
