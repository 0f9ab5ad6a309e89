// Walks the section headers of a backup-set file.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/err/vral_err.h"
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
    LineBuf line;
    ssize_t len = 0;
    while ((len = line.Next(fp.get())) > 0) {
        if (VRALFileIsSectionLine(line.text, static_cast<int>(len)) == 1 &&
            !take(std::string_view(line.text, static_cast<size_t>(len))))
            return 1;
    }
    if (ferror(fp.get())) {
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    return 1;
}

}  // namespace vexabkp
