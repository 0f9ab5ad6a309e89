// Pieces shared by the crontab schedule files.
#ifndef VEXA_CRONTAB_INTERNAL_H
#define VEXA_CRONTAB_INTERNAL_H

#include <syslog.h>

#include <cstring>
#include <string>

#include "base/err/err_log.h"
#include "services/crontab/vexa_crontab.h"

// Each file names its operation in kOp, which its lines carry
// (VRAL_LOG_CALL(kOp, ...)).
namespace vexacron {

inline constexpr char kCrontab[] = "/etc/crontab";

// A job is named by a non-empty command on one line: an empty one matches
// every line that is not a comment, and lines are matched with their line
// break, so "t\n" would name the first job ending in "t".
inline bool CommandUsable(const char *szCmd)
{
    return szCmd != nullptr && szCmd[0] != '\0' && strpbrk(szCmd, "\r\n") == nullptr;
}

// cron ends a command at an unescaped "%" and feeds the rest to its input:
// a "%" of the command is written "\%".
std::string CronEscape(const char *szCmd);

// The command text as cron runs it: "\%" back to "%".
std::string CronUnescape(const std::string &text);

// The first crontab line of the job into buf (cb bytes), found by the
// command as written (escaped) or, failing that, in an older unescaped
// form; *pPattern is the form that found it.  As VRALFileGetLine: the size
// with its terminator, 0 none, -1.
int FindJobLine(const char *szCmd, char *buf, int cb, std::string *pPattern);

}  // namespace vexacron

#endif
