#include <signal.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>

#include "base/io/io_fd.h"
#include "base/io/vral_io.h"
#include "services/fetchcrate/vexa_fetchcrate.h"

namespace {

// The pid as written by the scheduler: decimal digits with blanks around
// them.  Anything else, 0 and 1 (init, never the scheduler) give 0.
pid_t parsePid(const char *text)
{
    const char *p = text;
    while (*p == ' ' || *p == '\t')
        ++p;
    long pid = 0;
    const char *digits = p;
    while (*p >= '0' && *p <= '9') {
        pid = pid * 10 + (*p - '0');
        if (pid > 0x3fffffff)
            return 0;
        ++p;
    }
    if (p == digits)
        return 0;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')
        ++p;
    return *p == '\0' && pid > 1 ? static_cast<pid_t>(pid) : 0;
}

}  // namespace

extern "C" int VEXADownloadSignalScheduler(int iSignal)
{
    vralio::Fd fd(DOWNLOAD_SCHEDULER_PID, O_RDONLY | O_CLOEXEC);
    if (!fd.ok()) {
        if (errno == ENOENT)
            return 0;
        syslog(LOG_ERR, "%s (%d) Failed to open scheduler pid. %s (%d)", "fetchcrate_info_set", __LINE__,
               strerror(errno), errno);
        return -1;
    }
    char text[1024] = {};
    const ssize_t n = VRALIoReadAll(fd.get(), text, sizeof text - 1);
    if (n <= 0)
        return -1;
    const pid_t pid = parsePid(text);
    if (pid == 0)
        return 0;
    if (kill(pid, iSignal) == 0 || errno == ESRCH)
        return 0;
    syslog(LOG_ERR, "%s (%d) Failed to send HUP to scheduler, reason=%s(%d)", "fetchcrate_info_set", __LINE__,
           strerror(errno), errno);
    return -1;
}
