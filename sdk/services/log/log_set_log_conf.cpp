#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "base/file/file_internal.h"
#include "services/log/vexa_log.h"

namespace {

int SetLogConf()
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
    std::string text;
    for (const auto &pair : kPairs)
        text += std::string(pair[0]) + "\t=\t\"" + (pair[1] != nullptr ? pair[1] : std::to_string(65536)) + "\"\n";
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
