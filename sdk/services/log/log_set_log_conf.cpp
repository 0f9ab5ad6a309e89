#include <cstdio>
#include <memory>

#include "base/err/vral_err.h"
#include "services/log/vexa_log.h"

extern "C" int VEXALogSetLogConf(void)
{
    static const char *const kPairs[][2] = {
        {"syslogfile", "/var/log/vexasys.log"},   {"syslogfilesize_MAX", nullptr},
        {"manlogfile", "/var/log/vexaman1.log"},  {"manlogfilesize_MAX", nullptr},
        {"connlogfile", "/var/log/vexaconn.log"}, {"connlogfilesize_MAX", nullptr},
        {"bkplogfile", "/var/log/vexabackup.log"}, {"bkplogfilesize_MAX", nullptr},
        {"copylogfile", "/var/log/vexacopy.log"}, {"copylogfilesize_MAX", nullptr},
        {"netbkplogfile", "/var/log/vexanetbkp.log"}, {"netbkplogfilesize_MAX", nullptr},
        {"surlogfile", "/var/log/vexasur.log"},   {"surlogfilesize_MAX", nullptr},
    };
    std::unique_ptr<FILE, int (*)(FILE *)> fp(fopen(VEXA_LOG_CONF, "w+e"), fclose);
    if (!fp) {
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return -1;
    }
    for (const auto &pair : kPairs) {
        const int r = pair[1] != nullptr ? fprintf(fp.get(), "%s\t=\t\"%s\"\n", pair[0], pair[1])
                                         : fprintf(fp.get(), "%s\t=\t\"%d\"\n", pair[0], 65536);
        if (r < 0)
            return -1;
    }
    return fclose(fp.release()) == 0 ? 0 : -1;
}
