// The steps that carry the old firmware's backup settings over: the USB
// backup keys become the local set "MyBackupSet" with its crontab job, and
// every network set backs up the share of its own name.  Failures are
// logged and end the step; none stops the update.
#ifndef UPDT_BACKUP_MIGRATE_H
#define UPDT_BACKUP_MIGRATE_H

void UpdateUsbBackupConfig(void);
void UpdateNetBackupConfig(void);
// Moves each network set folder's configbackup.dss into its @app folder.
void MoveNetBackupConfigBackup(void);

#endif
