#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "services/log/log_internal.h"
#include "services/log/vexa_log.h"

namespace {

int SetLogConf()
{
    std::string text;
    for (const vexalog::LogClass &c : vexalog::kLogClasses)
        text += std::string(c.fileKey) + "\t=\t\"" + c.file + "\"\n" + c.sizeKey + "\t=\t\"" + std::to_string(65536) +
                "\"\n";
    // Whole or not there: a copy beside it, synced, renamed over it.  The
    // file names where root writes: its caller's alone, whatever the umask.
    struct stat st {};
    st.st_uid = geteuid();
    st.st_gid = getegid();
    st.st_mode = 0644;
    vralfile::Rewriter out;
    if (out.Begin(VEXA_LOG_CONF, st) != 0 || !out.Write(text) || out.Commit() != 0) {
        syslog(LOG_ERR, "VEXALogSetLogConf : %s not written", VEXA_LOG_CONF);
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXALogSetLogConf(void)
{
    return vral::NoThrow(-1, SetLogConf);
}
