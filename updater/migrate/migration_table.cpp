// The migration table and the two loops over it.
#include "migration_table.h"

#include <syslog.h>

#include <new>

#include "account_lines.h"
#include "backup_migrate.h"
#include "migrate_steps.h"
#include "updt_accounts.h"
#include "updt_analysis.h"
#include "updt_driver.h"
#include "updt_patch.h"
#include "updt_preflash.h"

namespace updt::migrate {

namespace {

int repairFlashDirectory(const Step &)
{
    if (RecoverFISDirTable_Q80ZPlus_V284() < 0) {
        syslog(LOG_ERR, "%s(%d): fail to recover the flash directory", "main", __LINE__);
        return -1;
    }
    return 0;
}

int capFtpPortRange(const Step &)
{
    return UpdateFTPPassivePortRange();
}

// Steps that log their own failures and never stop the run.
template <void (*Fn)()>
int logsItsFailures(const Step &)
{
    Fn();
    return 0;
}

// Steps that report their result; the row's code says whether it counts.
template <int (*Fn)()>
int reports(const Step &)
{
    return Fn();
}

#define FLAG(f) &f, #f

constexpr Stage kBefore = Stage::BeforeWrite;
constexpr Stage kAfter = Stage::AfterWrite;

// In the order they run.  The steps after the write that must succeed
// (required) end the run with code 17 after all of them have run.
const Step kSteps[] = {
    {"RecoverFISDirTable_Q80ZPlus_V284", FLAG(gFixFisDir), kNotByBuild, kNotByBuild, 1, kBefore,
     UPDT_ERR_FLASH_WRITE, repairFlashDirectory},
    {"UpdateFTPPassivePortRange", FLAG(gFixFtpPortRange), kAnyBuild, 659, 1, kBefore, UPDT_ERR_FTP_PORTS,
     capFtpPortRange},
    {"UpdateRsyncdConf", FLAG(gUpdateRsyncdConf), kAnyBuild, 483, 1, kBefore, 0, logsItsFailures<UpdateRsyncdConf>},
    {"CheckAndUpdateRsyncdSecrets", FLAG(gUpdateRsyncdSecrets), kAnyBuild, 552, 1, kBefore, 0,
     logsItsFailures<CheckAndUpdateRsyncdSecrets>},
    {"CheckAndUpdateSmmspGroup", FLAG(gUpdateSmmspGroup), kAnyBuild, 555, 1, kBefore, 0,
     logsItsFailures<CheckAndUpdateSmmspGroup>},
    {"UpdateUsbBackupConfig", FLAG(gUpdateUsbBackup), kAnyBuild, 681, 1, kBefore, 0,
     logsItsFailures<UpdateUsbBackupConfig>},
    {"UpdateNetBackupConfig", FLAG(gUpdateNetBackup), kAnyBuild, 770, 1, kBefore, 0,
     logsItsFailures<UpdateNetBackupConfig>},
    {"UpdateCodepageConfig", FLAG(gUpdateCodepage), kAnyBuild, 807, 1, kBefore, 0,
     logsItsFailures<UpdateCodepageConfig>},

    {"ChmodPhotoEaDir", FLAG(gChmodPhotoEaDir), kAnyBuild, 702, 1, kAfter, 0, chmodPhotoEaDir},
    {"UpdatePhotoDbColumns", FLAG(gPhotoDbUpdates), 401, 424, UPDT_PHOTO_DB_COLUMNS, kAfter, 0, updatePhotoDbColumns},
    {"UpdatePhotoDbVideoTables", FLAG(gPhotoDbUpdates), 401, 481, UPDT_PHOTO_DB_VIDEO, kAfter, 0,
     updatePhotoDbVideoTables},
    {"DropMediaDb", FLAG(gDropMediaDb), kAnyBuild, 620, 1, kAfter, 0, dropMediaDb},
    {"DumpPgsqlDbs", FLAG(gDumpPgsqlDbs), kAnyBuild, 537, 1, kAfter, 0, dumpPgsqlDbs},
    {"ReindexMedia", nullptr, "", kNotByBuild, kNotByBuild, 1, kAfter, 0, reindexMedia},
    {"RemoveRcAtalk", FLAG(gRemoveRcAtalk), kAnyBuild, 107, 1, kAfter, UPDT_ERR_CONFIG, removeRcAtalk},
    {"RemovePapdConf", FLAG(gRemovePapdConf), kAnyBuild, 210, 1, kAfter, UPDT_ERR_CONFIG, removePapdConf},
    {"AddFtpAccounts", FLAG(gAddFtpAccounts), kAnyBuild, 229, 1, kAfter, UPDT_ERR_CONFIG, reports<AddFtpAccounts>},
    {"RemoveEtcProfile", FLAG(gRemoveEtcProfile), kAnyBuild, 250, 1, kAfter, UPDT_ERR_CONFIG,
     removeEtcProfile},
    {"RemoveJumboFrameScript", FLAG(gRemoveJumboFrameScript), kAnyBuild, 251, 1, kAfter, UPDT_ERR_CONFIG,
     removeJumboFrameScript},
    {"RemoveManutilConf", nullptr, "", kNotByBuild, kNotByBuild, 1, kAfter, UPDT_ERR_CONFIG, removeManutilConf},
    {"SaveWriteable", FLAG(gSaveWriteable), kNotByBuild, kNotByBuild, 1, kAfter, UPDT_ERR_CONFIG, saveWriteable},
    {"RemovePhpIni", nullptr, "", kNotByBuild, kNotByBuild, 1, kAfter, 0, removePhpIni},
    {"CleanCrontab", nullptr, "", kNotByBuild, kNotByBuild, 1, kAfter, 0, cleanCrontab},
    {"ConvertMTUValue", FLAG(gConvertMTUValue), kAnyBuild, 308, 1, kAfter, 0, convertMTUValue},
    {"MoveMTUValue", FLAG(gMoveMTUValue), kAnyBuild, 547, 1, kAfter, 0, moveMTUValue},
    {"RewritePasswdHomes", FLAG(gRewritePasswdHomes), kAnyBuild, 770, 1, kAfter, 0, reports<RewritePasswdHomes>},
    {"RewriteUserConf", FLAG(gRewriteUserConf), kAnyBuild, 770, 1, kAfter, 0, reports<RewriteUserConf>},
    {"AddMailAccounts", FLAG(gAddMailAccounts), kAnyBuild, 775, 1, kAfter, 0, reports<AddMailAccounts>},
};

#undef FLAG

bool selected(const Step &s)
{
    return s.flag == nullptr || (*s.flag & s.bits) != 0;
}

}  // namespace

std::span<const Step> steps()
{
    return kSteps;
}

void setFlags(std::span<const Step> table, int build)
{
    for (const Step &s : table) {
        if (s.flag != nullptr && s.lastBuild != kNotByBuild && build >= s.firstBuild && build <= s.lastBuild)
            *s.flag |= s.bits;
    }
}

int runStage(std::span<const Step> table, Stage stage)
{
    return runStage(table, stage, nullptr);
}

int runStage(std::span<const Step> table, Stage stage, bool (*skip)(const Step &step))
{
    int code = 0;
    for (const Step &s : table) {
        if (s.stage != stage || !selected(s) || (skip != nullptr && skip(s)))
            continue;
        int rc = -1;
        try {
            rc = s.run(s);
        } catch (const std::bad_alloc &) {
            // A step cut short counts as failed; the stage goes on as after
            // any failure of that step.
            syslog(LOG_ERR, "%s(%d): %s failed: out of memory", "main", __LINE__, s.name);
        }
        if (rc >= 0 || s.failCode == 0)
            continue;
        if (stage == Stage::BeforeWrite)
            return s.failCode;
        if (code == 0)
            code = s.failCode;
    }
    // The flash goes back for a retry: the account copies this run made
    // go too, or each retry would copy the accounts again.
    if (stage == Stage::AfterWrite && code != 0)
        DropAccountCopies();
    return code;
}

int notAvailable(const Step &step)
{
    syslog(LOG_ERR, "%s(%d): %s is not available in this updater, skipped", "main", __LINE__, step.name);
    return 0;
}

}  // namespace updt::migrate
