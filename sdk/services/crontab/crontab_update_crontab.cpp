// The one edit of "/etc/crontab" behind setting and removing a job, and the
// reload of the cron daemon that follows it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <syslog.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <string_view>

#include "base/err/err_log.h"
#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/io/io_fd.h"
#include "base/io/vral_io.h"
#include "services/crontab/crontab_internal.h"

namespace {

constexpr char kCrondPid[] = "/var/run/crond.pid";

// The daemon's pid from its pid file: decimal digits, an optional newline,
// nothing else, above 1.  Anything else (a "-1" would signal every process,
// a "0" our own group) gives 0.
pid_t ReadCrondPid()
{
    vralio::Fd fd(kCrondPid, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st { };
    if (!fd.ok() || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return 0;
    char buf[32];
    const ssize_t n = VRALIoReadAll(fd.get(), buf, sizeof buf);
    if (n <= 0 || static_cast<size_t>(n) == sizeof buf)
        return 0;
    std::string_view text(buf, static_cast<size_t>(n));
    if (text.back() == '\n')
        text.remove_suffix(1);
    if (text.empty())
        return 0;
    long long pid = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        pid = pid * 10 + (c - '0');
        if (pid > INT_MAX)
            return 0;
    }
    return pid > 1 ? static_cast<pid_t>(pid) : 0;
}

// Tells the cron daemon to read the crontab again; a daemon that cannot be
// told is only logged, the edit stands.
void HupCrond()
{
    const pid_t pid = ReadCrondPid();
    if (pid == 0) {
        VRAL_LOG_SPACED("Failed to hup crond");
        return;
    }
    if (kill(pid, SIGHUP) != 0)
        VRAL_LOG_SPACED("Failed to hup crond");
}

}  // namespace

extern "C" int VEXAUpdateCrontab(const char *szCmd, const char *szLine)
{
    if (!vexacron::CommandUsable(szCmd)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    if (szLine != nullptr) {
        // Only to learn whether the job has a line: a longer one fails here.
        char existing[128];
        std::string pattern;
        const int found = vexacron::FindJobLine(szCmd, existing, sizeof existing, &pattern);
        if (found < 0) {
            VRAL_LOG_SPACED("Failed to get line in crontab (0x%x)", VRALErrGet());
            return -1;
        }
        if (found > 0) {
            if (VRALFileSetLine(vexacron::kCrontab, pattern.c_str(), szLine, 0) != 1) {
                VRAL_LOG_SPACED("Failed to set line in crontab (0x%x)", VRALErrGet());
                return -1;
            }
        } else if (VRALFileAddLine(vexacron::kCrontab, nullptr, szLine, OP_FIND_PREFIX) != 1) {
            VRAL_LOG_SPACED("Failed to add line in crontab (0x%x)", VRALErrGet());
            return -1;
        }
    } else {
        // The line as written, else one written before "%" was escaped.
        const std::string escaped = vexacron::CronEscape(szCmd);
        int r = VRALFileSetLine(vexacron::kCrontab, escaped.c_str(), nullptr, 0);
        if (r == 0 && escaped != szCmd)
            r = VRALFileSetLine(vexacron::kCrontab, szCmd, nullptr, 0);
        if (r < 0) {
            VRAL_LOG_SPACED("Failed to remove line in crontab (0x%x)", VRALErrGet());
            return -1;
        }
    }
    HupCrond();
    return 0;
}
