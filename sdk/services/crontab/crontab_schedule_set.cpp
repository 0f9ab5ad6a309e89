// Writes a job's line into the crontab.
#include <cstdio>
#include <cstring>
#include <string>

#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "services/crontab/crontab_internal.h"

namespace {

constexpr char kOp[] = "VEXAScheduleSet";

constexpr int kEveryDay = 0x7f;

bool InHours(int h)
{
    return h >= 0 && h <= 23;
}

// A command that fits its field and stays on one line (a line break would
// add a line of its own to root's crontab) and that cron can run as given:
// it reads "\%" as "%", so no written form gives a command holding "\%".
bool CommandWritable(const char (&szCmd)[VEXA_SCHEDULE_CMD_SIZE])
{
    const size_t cch = strnlen(szCmd, sizeof szCmd);
    return cch > 0 && cch < sizeof szCmd && vexacron::CommandUsable(szCmd) && strstr(szCmd, "\\%") == nullptr;
}

bool RecordValid(const VEXASCHEDULE &s)
{
    return (s.wdayMask & kEveryDay) != 0 && InHours(s.hourFirst) && InHours(s.hourLast) && InHours(s.hourInterval) &&
           s.hourFirst <= s.hourLast && s.minute >= 0 && s.minute <= 59 && CommandWritable(s.szCmd);
}

std::string WeekdayField(int mask)
{
    if (mask == kEveryDay)
        return "*";
    std::string field;
    for (int d = 0; d <= 6; ++d) {
        if ((mask & (1 << d)) == 0)
            continue;
        if (!field.empty())
            field += ',';
        field += static_cast<char>('0' + d);
    }
    return field;
}

std::string HourField(const VEXASCHEDULE &s)
{
    if (s.hourInterval == 0 || s.hourFirst == s.hourLast)
        return std::to_string(s.hourFirst);
    return std::to_string(s.hourFirst) + "-" + std::to_string(s.hourLast) + "/" + std::to_string(s.hourInterval);
}

int Set(const VEXASCHEDULE &s)
{
    if (!RecordValid(s)) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        VRAL_LOG_CALL(kOp, "time or command error %d,%d,%d,%d,%.*s", s.hourFirst, s.minute, s.hourInterval,
                      s.hourLast, static_cast<int>(sizeof s.szCmd), s.szCmd);
        return -1;
    }
    char line[1024];
    const int cch = snprintf(line, sizeof line, "%d\t%s\t*\t*\t%s\troot\t%s", s.minute, HourField(s).c_str(),
                             WeekdayField(s.wdayMask).c_str(), vexacron::CronEscape(s.szCmd).c_str());
    if (cch < 0 || static_cast<size_t>(cch) >= sizeof line) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        VRAL_LOG_CALL(kOp, "command too long for a crontab line: %s", s.szCmd);
        return -1;
    }
    if (VEXAUpdateCrontab(s.szCmd, line) < 0) {
        VRAL_LOG_CALL(kOp, "fail to set the schedule to /etc/crontab");
        return -1;
    }
    return 0;
}

}  // namespace

extern "C" int VEXAScheduleSet(PVEXASCHEDULE pSchedule)
{
    if (pSchedule == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        VRAL_LOG_CALL(kOp, "PVEXASCHEDULE is NULL");
        return -1;
    }
    return vral::NoThrow(-1, [&] { return Set(*pSchedule); });
}
