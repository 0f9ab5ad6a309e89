/* Package analysis against the installed firmware, and the migration
 * flags chosen from the installed build number. */
#ifndef UPDT_ANALYSIS_H
#define UPDT_ANALYSIS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Space the unpacked package needs beyond extractsize, in KiB. */
#define UPDT_EXTRACT_RESERVE_KB 10240LL

/* 0, or the exit code 6, 7, 8, 9, 10, 12, 13, 16 or 22. */
int ErrUPDTIAnalyze_WholeSystem(void);

/* 1 when the system volume holds extractsize KiB plus the reserve, else 0. */
int IsSystemPartitionSufficient(long long extractsize);
/* 1 when partition 3 of /dev/hda starts beyond sector 1333331, else 0. */
int IsSystemPartitionResizeable(void);

/* Sets every migration flag whose build threshold holds for build; clears none. */
void UPDTSetConfigFlags(int build);

/* 1, 0 or -1 as dotted version a is above, equal to or below b; kept for
 * callers outside the run, which does not use it. */
int UPDTCompareVersion(const char *a, const char *b);

/* Set by the analysis. gFixFisDir and gUseMtdBuffer belong to the driver. */
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
