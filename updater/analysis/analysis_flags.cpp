// Migration flags chosen from the installed build number: the thresholds
// are the migration table's.
#include "migration_table.h"
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

extern "C" void UPDTSetConfigFlags(int build)
{
    updt::migrate::setFlags(updt::migrate::steps(), build);
}
