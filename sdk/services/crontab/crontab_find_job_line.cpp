// A job's crontab line found by its command, and the "%" escaping that
// keeps cron from splitting the command.
#include "base/file/vral_file.h"
#include "services/crontab/crontab_internal.h"

namespace vexacron {

std::string CronEscape(const char *szCmd)
{
    std::string text;
    for (const char *p = szCmd; *p != '\0'; ++p) {
        if (*p == '%')
            text += '\\';
        text += *p;
    }
    return text;
}

std::string CronUnescape(const std::string &text)
{
    std::string cmd;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == '%')
            continue;
        cmd += text[i];
    }
    return cmd;
}

int FindJobLine(const char *szCmd, char *buf, int cb, std::string *pPattern)
{
    *pPattern = CronEscape(szCmd);
    const int found = VRALFileGetLine(kCrontab, pPattern->c_str(), buf, cb, 0);
    if (found != 0 || *pPattern == szCmd)
        return found;
    // A line written before "%" was escaped.
    *pPattern = szCmd;
    return VRALFileGetLine(kCrontab, szCmd, buf, cb, 0);
}

}  // namespace vexacron
