#include <syslog.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "services/ftp/ftp_internal.h"

namespace vexaftp {

int chrootRead(std::vector<std::string> &names, const char *who)
{
    std::unique_ptr<FILE, int (*)(FILE *)> fp(fopen(FTP_CHROOT_CONF, "re"), fclose);
    if (!fp) {
        // Only a file that is not there is an empty list: anything else
        // must not pass for one, or a rewrite would empty the list.
        if (errno == ENOENT)
            return 0;
        syslog(LOG_ERR, "%s(%d) fopen failed!! err=[%s]\n", who, __LINE__, strerror(errno));
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    vralfile::LineReader reader(fp.get());
    while (reader.Next()) {
        const char *line = reader.Data();
        size_t n = reader.Length();
        if (line[0] == '#' || (n == 1 && line[0] == '\n'))
            continue;
        if (line[n - 1] == '\n')
            --n;
        names.emplace_back(line, n);
    }
    if (reader.Failed()) {
        syslog(LOG_ERR, "%s(%d) read failed!! err=[%s]\n", who, __LINE__, strerror(errno));
        VRAL_ERR_SET(ERR_READ_FAILED);
        return -1;
    }
    return 1;
}

}  // namespace vexaftp
