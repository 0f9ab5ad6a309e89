// The updater's runner for shell commands whose failure it acts on.
#include <sys/wait.h>
#include <syslog.h>

#include <cstdlib>

#include "updt_status.h"

extern "C" int UPDTExecute(const char *szCmd)
{
    if (szCmd == nullptr)
        return -1;
    int status = std::system(szCmd);
    if (status == -1) {
        syslog(LOG_ERR, "%s(%d): failed to execute cmd=[%s], ret = %d", __func__, __LINE__, szCmd, -1);
        return -1;
    }
    // A command killed half-way (dd cut off by a signal) did not do its
    // work: that is a failure, never a success.
    if (WIFSIGNALED(status)) {
        syslog(LOG_ERR, "%s(%d): failed to execute cmd=[%s], ended by signal %d", __func__, __LINE__, szCmd,
               WTERMSIG(status));
        return -1;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : status;
    if (code != 0) {
        syslog(LOG_ERR, "%s(%d): failed to execute cmd=[%s], ret = %d", __func__, __LINE__, szCmd, code);
        return -1;
    }
    return 0;
}
