/* The updater's run: options, model tables, package folder, analysis,
 * preparation, flash write, configuration, finish and exit. */
#ifndef UPDT_DRIVER_H
#define UPDT_DRIVER_H

#ifdef __cplusplus
extern "C" {
#endif

/* Exit codes of one run (4, 5, 11 and 14 are not returned). */
#define UPDT_OK                  0
#define UPDT_ERR_OPEN_CWD        1    /* the current folder cannot be opened */
#define UPDT_ERR_RETURN_CWD      2    /* returning to it at exit failed */
#define UPDT_ERR_CHDIR           3    /* the package folder cannot be entered */
#define UPDT_ERR_READ_VER        6
#define UPDT_ERR_READ_PATCH_VER  7
#define UPDT_ERR_READ_MOD        8
#define UPDT_ERR_READ_PATCH_MOD  9
#define UPDT_ERR_VERSION         10
#define UPDT_ERR_COMPANY         12
#define UPDT_ERR_PATCH           13
#define UPDT_ERR_BACKUP          15
#define UPDT_ERR_SPACE           16   /* also: no memory for the flash directory */
#define UPDT_ERR_CONFIG          17
#define UPDT_ERR_PARTITION_INFO  18
#define UPDT_ERR_PATCH_INFO      19
#define UPDT_ERR_FLASH_WRITE     20   /* also: the flash-directory repair */
#define UPDT_ERR_FTP_PORTS       21
#define UPDT_ERR_DEFAULTFS       22
#define UPDT_ERR_MTD_BUFFER      23
#define UPDT_ERR_REBOOT          24
#define UPDT_ERR_OPTION          (-1)

#define UPDT_RESULT_IDS          25

#define UPDT_DEFAULT_VOLUME      "/volume1"
#define UPDT_VOLUME_PATCH_DIR    "upd@te"
#define UPDT_UPGRADE_FILE        "hda1.tgz"
#define UPDT_UPGRADE_TARGET      "VexaUpgrade.tar.gz"
#define UPDT_UPTIME_LIMIT        300   /* seconds since boot, old builds */

#define UPDT_MSG_MTD_BUFFER "Please reboot the system and upgrade immediately."
#define UPDT_MSG_REBOOT     "To perform upgrade task, you have to REBOOT your Vexabox first."

/* Result id of each exit code 0 to 24. */
extern const char *const gResultIds[UPDT_RESULT_IDS];

/* The driver's process-wide state; gszPatchDir and gGroupUpdate live with
 * the flash stages (updt_patch.h). */
extern int gIsBantam;            /* VEXAIsBantamModel answered non-zero */
extern int gNoInitrd;            /* "/initrd" does not exist */
extern int gUseMtdBuffer;        /* reserve and release the driver buffer */
extern int gFixFisDir;           /* repair the flash directory first */
extern char gszUpgradeVolume[32];

/* The whole run: argv as main() got it; returns the exit code. */
int UPDTMain(int argc, char **argv);

#ifdef __cplusplus
}
#endif

#endif
