/* The migration flags: one per row of the migration table that the
 * analysis selects by the installed build, read by the rows themselves. */
#ifndef UPDT_MIGRATE_FLAGS_H
#define UPDT_MIGRATE_FLAGS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Set by the analysis from the table's rows; gFixFisDir and gUseMtdBuffer
 * are the run's shared state (updt_driver.h). */
extern int gSaveWriteable;

/* Migration flags (gPhotoDbUpdates is a bit mask). */
#define UPDT_PHOTO_DB_COLUMNS 0x1
#define UPDT_PHOTO_DB_VIDEO   0x2

extern int gRemoveRcAtalk;
extern int gRemovePapdConf;
extern int gAddFtpAccounts;
extern int gRemoveEtcProfile;
extern int gRemoveJumboFrameScript;
extern int gConvertMTUValue;
extern int gFixFtpPortRange;
extern int gPhotoDbUpdates;
extern int gUpdateRsyncdConf;
extern int gDumpPgsqlDbs;
extern int gMoveMTUValue;
extern int gUpdateRsyncdSecrets;
extern int gUpdateSmmspGroup;
extern int gDropMediaDb;
extern int gUpdateUsbBackup;
extern int gChmodPhotoEaDir;
extern int gRewritePasswdHomes;
extern int gRewriteUserConf;
extern int gUpdateNetBackup;
extern int gAddMailAccounts;
extern int gUpdateCodepage;

#ifdef __cplusplus
}
#endif

#endif
