// Reads a job's schedule from its crontab line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/err/err_guard.h"
#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"
#include "services/crontab/crontab_internal.h"

namespace {

constexpr char kOp[] = "VEXAScheduleGet";
constexpr size_t kFieldMax = 19;  // the longest hour or weekday field

struct ListFree {
    void operator()(VRALSzList *p) const { VRALSzListFree(p); }
};

// Weekday field into its mask; -1 when the list cannot be made.
int ParseWeekdays(const char *field)
{
    if (strcmp(field, "*") == 0)
        return 0x7f;
    VRALSzList *raw = PslVRALSzListAlloc(512);
    if (raw == nullptr)
        return -1;
    if (VRALStrTok(field, ",", &raw) < 0) {
        VRALSzListFree(raw);
        return -1;
    }
    std::unique_ptr<VRALSzList, ListFree> list(raw);
    int mask = 0;
    for (int i = 0; i < list->nItem; ++i) {
        const int day = atoi(VRALSzListItem(list.get(), i));
        if (day >= 0 && day <= 6)
            mask |= 1 << day;  // a day listed twice is still one day
        else if (day != 7)     // 7 is Sunday again: 0 stands for it
            VRAL_LOG_CALL(kOp, "wday field exceeded. : %d", day);
    }
    return mask;
}

// Hour field into first, last and interval; false after logging.
bool ParseHours(const char *field, VEXASCHEDULE *s)
{
    if (strchr(field, '-') != nullptr && strchr(field, '/') != nullptr) {
        char end = 0;
        if (sscanf(field, "%d-%d/%d%c", &s->hourFirst, &s->hourLast, &s->hourInterval, &end) != 3) {
            VRAL_LOG_CALL(kOp, "hour field format error. : %s", field);
            return false;
        }
    } else {
        if (strlen(field) > 2) {
            VRAL_LOG_CALL(kOp, "hour field format error. : %s", field);
            return false;
        }
        s->hourFirst = s->hourLast = atoi(field);
        s->hourInterval = 0;
    }
    auto inHours = [](int h) { return h >= 0 && h <= 23; };
    // A first hour above the last would count negative runs a day.
    if (!inHours(s->hourFirst) || !inHours(s->hourLast) || !inHours(s->hourInterval) || s->hourFirst > s->hourLast) {
        VRAL_LOG_CALL(kOp, "hour field exceeded. : %s", field);
        return false;
    }
    return true;
}

int Get(const char *szCmd, PVEXASCHEDULE pSchedule)
{
    char line[1024];
    std::string pattern;
    const int found = vexacron::FindJobLine(szCmd, line, sizeof line, &pattern);
    if (found < 0) {
        VRAL_LOG_CALL(kOp, "fail to get schedule line from /etc/crontab");
        return -1;
    }
    if (found == 0) {
        VRAL_ERR_SET(ERR_NOT_FOUND);
        return 0;
    }
    // One byte more than a field may hold, to tell a long field from a full one.
    char hours[kFieldMax + 2] = {};
    char wdays[kFieldMax + 2] = {};
    auto parsed = std::make_unique<VEXASCHEDULE>();
    const int n = sscanf(line, "%d %20s * * %20s root %1023s", &parsed->minute, hours, wdays, parsed->szCmd);
    if (strlen(hours) > kFieldMax || strlen(wdays) > kFieldMax) {
        VRAL_LOG_CALL(kOp, "wday or hours field from /etc/crontab is too long ");
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    if (hours[0] == '\0' || wdays[0] == '\0') {
        VRAL_LOG_CALL(kOp, "wday or hours field from /etc/crontab is empty ");
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    if (n != 4) {
        VRAL_LOG_CALL(kOp, "schedule line from /etc/crontab is not a root job line ");
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    parsed->wdayMask = ParseWeekdays(wdays);
    if (parsed->wdayMask < 0)
        return -1;
    if (!ParseHours(hours, parsed.get())) {
        VRAL_ERR_SET(ERR_BAD_FORMAT);
        return -1;
    }
    // The word as cron runs it.
    const std::string word = vexacron::CronUnescape(parsed->szCmd);
    snprintf(parsed->szCmd, sizeof parsed->szCmd, "%s", word.c_str());
    parsed->runsPerDay =
        parsed->hourInterval == 0 ? 1 : (parsed->hourLast - parsed->hourFirst) / parsed->hourInterval + 1;
    *pSchedule = *parsed;
    return 1;
}

}  // namespace

extern "C" int VEXAScheduleGet(const char *szCmd, PVEXASCHEDULE pSchedule)
{
    if (!vexacron::CommandUsable(szCmd) || pSchedule == nullptr) {
        VRAL_ERR_SET(ERR_BAD_PARAMETERS);
        return -1;
    }
    return vral::NoThrow(-1, [&] { return Get(szCmd, pSchedule); });
}
