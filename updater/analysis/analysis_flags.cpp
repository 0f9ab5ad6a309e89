// Migration flags chosen from the installed build number.
#include "updt_analysis.h"

extern "C" {

int gSaveWriteable = 0;

int gRemoveRcAtalk = 0;
int gRemovePapdConf = 0;
int gAddFtpAccounts = 0;
int gRemoveEtcProfile = 0;
int gRemoveJumboFrameScript = 0;
int gConvertMTUValue = 0;
int gFixFtpPortRange = 0;
int gPhotoDbUpdates = 0;
int gUpdateRsyncdConf = 0;
int gDumpPgsqlDbs = 0;
int gMoveMTUValue = 0;
int gUpdateRsyncdSecrets = 0;
int gUpdateSmmspGroup = 0;
int gDropMediaDb = 0;
int gUpdateUsbBackup = 0;
int gChmodPhotoEaDir = 0;
int gRewritePasswdHomes = 0;
int gRewriteUserConf = 0;
int gUpdateNetBackup = 0;
int gAddMailAccounts = 0;
int gUpdateCodepage = 0;

}

namespace {

struct UpTo {
    int *flag;
    int lastBuild;  // set for every installed build up to this one
};

const UpTo kUpTo[] = {
    {&gRemoveRcAtalk, 107},
    {&gRemovePapdConf, 210},
    {&gAddFtpAccounts, 229},
    {&gRemoveEtcProfile, 250},
    {&gRemoveJumboFrameScript, 251},
    {&gConvertMTUValue, 308},
    {&gFixFtpPortRange, 659},
    {&gUpdateRsyncdConf, 483},
    {&gDumpPgsqlDbs, 537},
    {&gMoveMTUValue, 547},
    {&gUpdateRsyncdSecrets, 552},
    {&gUpdateSmmspGroup, 555},
    {&gDropMediaDb, 620},
    {&gUpdateUsbBackup, 681},
    {&gChmodPhotoEaDir, 702},
    {&gRewritePasswdHomes, 770},
    {&gRewriteUserConf, 770},
    {&gUpdateNetBackup, 770},
    {&gAddMailAccounts, 775},
    {&gUpdateCodepage, 807},
};

}  // namespace

extern "C" void UPDTSetConfigFlags(int build)
{
    for (const UpTo &t : kUpTo) {
        if (build <= t.lastBuild)
            *t.flag = 1;
    }
    // the photo database steps apply only to builds that had that database
    if (build >= 401 && build <= 424)
        gPhotoDbUpdates |= UPDT_PHOTO_DB_COLUMNS;
    if (build >= 401 && build <= 481)
        gPhotoDbUpdates |= UPDT_PHOTO_DB_VIDEO;
}
