// The old USB backup keys of vexainfo.conf as the local set "MyBackupSet",
// and the USB backup's crontab job moved to the local-backup tool.
#include <sys/stat.h>
#include <syslog.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "backup_migrate.h"
#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/list/vral_list.h"
#include "base/string/vral_string.h"
#include "services/backup/vexa_backup.h"
#include "services/crontab/vexa_crontab.h"
#include "services/share/vexa_share.h"
#include "updt_log.h"

namespace {

constexpr const char *kInfo = VEXA_INFO_CONF;
constexpr char kDefaults[] = "/etc.defaults/vexainfo.conf";
constexpr char kOldCmd[] = "/usr/vexa/bin/vexausbbkp";
constexpr char kNewTool[] = "/usr/vexa/bin/vexalocalbkp";
constexpr char kSetName[] = "MyBackupSet";
constexpr int kShareBytes = 493;  // one share name in the list, with its comma
// A cap far above any model's share count: a huge maxshares must not make
// the list buffer's size overflow an int or take megabytes for nothing.
constexpr long kMaxShares = 4096;

struct BufFree {
    void operator()(char *p) const { free(p); }
};
struct ListFree {
    void operator()(VRALSzList *p) const { VRALSzListFree(p); }
};

void logGetFailed(const char *szFile, const char *szKey)
{
    UPDT_LOG("VRALFileGetKeyValue() failed!! szFile=[%s], szKey=[%s], vexaerr=[0x%04X]", szFile, szKey, VRALErrGet());
}

// maxshares of the factory defaults: a missing key, or anything below 1,
// counts as 0.  -1 when the file cannot be read.
long maxShares()
{
    char value[32] = "";
    const int rc = VRALFileGetKeyValue(kDefaults, "maxshares", value, sizeof value, 0);
    if (rc < 0) {
        logGetFailed(kDefaults, "maxshares");
        return -1;
    }
    const long n = rc > 0 ? strtol(value, nullptr, 10) : 0;
    return n < 1 ? 0 : (n > kMaxShares ? kMaxShares : n);
}

// The normal shares joined with "," into *pBuf (which the join may
// replace); any failure leaves the list empty.
void joinNormalShares(std::unique_ptr<char, BufFree> *pBuf, int *pcb)
{
    std::unique_ptr<VRALSzList, ListFree> list(PslVRALSzListAlloc(512));
    if (!list) {
        UPDT_LOG("Out of memory!! size=[512]");
        return;
    }
    VRALSzList *raw = list.release();
    const int n = VEXAShareEnum(&raw, SHARE_KIND_NORMAL);
    list.reset(raw);
    if (n < 0 || !list) {
        UPDT_LOG("Fail to enum local shares!! vexaerr=[0x%04X]", VRALErrGet());
        return;
    }
    std::unique_ptr<const char *[]> items(new const char *[static_cast<size_t>(list->nItem) + 1]);
    for (int i = 0; i < list->nItem; ++i)
        items[static_cast<size_t>(i)] = VRALSzListItem(list.get(), i);
    char *buf = pBuf->release();
    const int rc = VRALStrJoin(items.get(), list->nItem, ",", &buf, pcb);
    pBuf->reset(buf);
    if (rc < 0) {
        UPDT_LOG("VRALStrJoin() failed!! vexaerr=[0x%04X]", VRALErrGet());
        if (*pBuf)
            (*pBuf).get()[0] = '\0';
    }
}

// "YYYY/MM/DD hh:mm" of the time that begins the destination id.
std::string lastBackupTime(const char *szId)
{
    if (szId[0] == '\0')
        return "";
    int t[6] = {};
    sscanf(szId, "%04d%02d%02d%02d%02d%02d-", &t[0], &t[1], &t[2], &t[3], &t[4], &t[5]);
    char text[17];
    snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d", t[0], t[1], t[2], t[3], t[4]);
    return text;
}

// The USB backup's job now runs the set; the old line goes only once the
// new one is stored, so a refused schedule keeps the user's backup times.
void moveSchedule()
{
    VEXASCHEDULE sched{};
    const int found = VEXAScheduleGet(kOldCmd, &sched);
    if (found < 0) {
        UPDT_LOG("Failed to get backup schedule. szCmd=[%s] errno=[0x%04X]", kOldCmd, VRALErrGet());
        return;
    }
    if (found == 0)
        return;
    snprintf(sched.szCmd, sizeof sched.szCmd, "%s -a \"%s\"", kNewTool, kSetName);
    if (VEXAScheduleSet(&sched) < 0) {
        UPDT_LOG("VEXAScheduleSet() failed!! szCmd=[%s], errno=[0x%04X]", sched.szCmd, VRALErrGet());
        return;
    }
    if (VEXAScheduleRemove(kOldCmd) < 0)
        UPDT_LOG("VEXAScheduleRemove() failed!! szCmd=[%s], vexaerr=[0x%04X]", kOldCmd, VRALErrGet());
}

void migrate()
{
    struct stat st { };
    if (stat(VEXA_LOCALBKP_CONF, &st) == 0)
        return;  // local sets are in use already

    const long nShares = maxShares();
    if (nShares < 0)
        return;
    // At least one byte: the list is "" when nothing fits.
    int cbShares = nShares > 0 ? static_cast<int>(nShares * kShareBytes) : 1;
    std::unique_ptr<char, BufFree> shares(static_cast<char *>(calloc(static_cast<size_t>(cbShares), 1)));
    if (!shares) {
        UPDT_LOG("out of memory!! size=[%d]", cbShares);
        return;
    }
    if (VRALFileGetKeyValue(kInfo, "usbbkpshares", shares.get(), cbShares, 0) < 0) {
        logGetFailed(kInfo, "usbbkpshares");
        return;
    }
    if (shares.get()[0] == '\0')
        joinNormalShares(&shares, &cbShares);

    char szId[28] = "";
    char szResult[64] = "";
    if (VRALFileGetKeyValue(kInfo, "usbbkpid", szId, sizeof szId, 0) < 0) {
        logGetFailed(kInfo, "usbbkpid");
        return;
    }
    if (VRALFileGetKeyValue(kInfo, "usbbkpresult", szResult, sizeof szResult, 0) < 0) {
        logGetFailed(kInfo, "usbbkpresult");
        return;
    }
    std::string time = lastBackupTime(szId);

    std::string name = kSetName;
    char szShare[] = "usbbackup";
    char szNone[] = "";
    VEXALOCALBKPCONF set{};
    set.dest_type = 3;  // "usbbkp"
    set.incrbkp = 0;
    set.szSetName = name.data();
    set.dest_id = szId;
    set.dest_share = szShare;
    set.bkp_shares = shares ? shares.get() : szNone;
    set.bkp_apps = szNone;
    set.last_bkp_time = time.data();
    set.last_bkp_result = szResult;
    if (VEXALocalBkpConfSetOne(nullptr, &set) < 0) {
        UPDT_LOG("VEXALocalBkpConfSetOne() failed!! vexaerr=[0x%04X]", VRALErrGet());
        return;
    }

    for (const char *key : {"usbbkpshares", "usbbkpid", "usbbkpresult"}) {
        if (VRALFileSetLine(kInfo, key, nullptr, 0) < 0)
            UPDT_LOG("File to remove the line [%s]!! szFile=[%s],  vexaerr=[0x%04X]", key, kInfo, VRALErrGet());
    }
    moveSchedule();
}

}  // namespace

void UpdateUsbBackupConfig(void)
{
    try {
        migrate();
    } catch (const std::bad_alloc &) {
        UPDT_LOG("out of memory!!");
    }
}
