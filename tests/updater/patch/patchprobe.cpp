// Test-side stand-in for the driver's flash stage: run inside the package
// folder under the simulated kernel, it reads the flash directory, builds
// the patch table, backs up, writes and rolls back as the updater does,
// and prints what each stage returned.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "updt_patch.h"
#include "updt_shell.h"
#include "updt_status.h"

int main(int argc, char **argv)
{
    std::string removeAfterInit;
    bool bantam = false, failAfter = false, repair = false, noBackup = false, keepBackup = false;
    bool initOnly = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--bantam")
            bantam = true;
        else if (a == "-g")
            gGroupUpdate = 1;
        else if (a == "--fail-after-write")
            failAfter = true;  // as a failed migration after a good write
        else if (a == "--repair")
            repair = true;
        else if (a == "--no-backup")
            noBackup = true;
        else if (a == "--lock-all" && i + 1 < argc) {
            UPDTSelectPartitionTables(bantam ? 1 : 0);
            std::printf("lockall=%d\n", UPDTLockAll(std::atoi(argv[++i])));
            return 0;
        } else if (a == "--remove-after-init" && i + 1 < argc)
            removeAfterInit = argv[++i];
        else if (a == "--keep-backup")
            keepBackup = true;
        else if (a == "--init-only")
            initOnly = true;
        else {
            std::fprintf(stderr, "unknown option %s\n", argv[i]);
            return 99;
        }
    }
    UPDTSelectPartitionTables(bantam ? 1 : 0);
    if (getcwd(gszPatchDir, sizeof(gszPatchDir)) == nullptr)
        return 98;

    if (repair) {
        std::printf("repair=%d\n", RecoverFISDirTable_Q80ZPlus_V284());
        return 0;
    }

    int used = 0;
    int n = VEXAMTDGetPartitionInfo(gszDevMtdPartition, nullptr, 0, &used);
    std::printf("dir=%d\n", n);
    if (n < 0)
        return 18;
    std::vector<FISDIRENTRY> dir(static_cast<size_t>(n) + 1);
    n = VEXAMTDGetPartitionInfo(gszDevMtdPartition, dir.data(), used, &used);
    if (n <= 0)
        return 18;

    int rc = UPDTInitPatchInfo(dir.data(), n);
    std::printf("init=%d\n", rc);
    if (initOnly) {
        for (int i = 0; i < gPatchCount; ++i) {
            const PATCHINFO &p = gPatchInfo[i];
            std::printf("table %d %s datalen=0x%08X balance=%d update=%d\n", i, p.part, p.datalen, p.balance,
                        p.fneedupdate);
        }
    }
    if (rc < 0)
        return 19;
    if (initOnly)
        return 0;
    if (!removeAfterInit.empty())
        std::remove(removeAfterInit.c_str());
    if (!gGroupUpdate && !noBackup) {
        rc = UPDTBackupOldPartition(dir.data(), n);
        std::printf("backup=%d\n", rc);
        if (rc < 0)
            return 15;
    }
    int code = 0;
    rc = UPDTDoPatch(dir.data(), n);
    std::printf("patch=%d touched=%d\n", rc, UPDTFlashTouched());
    if (rc < 0)
        code = 20;
    else if (failAfter)
        code = 17;
    for (int i = 0; i < gPatchCount; ++i) {
        const PATCHINFO &p = gPatchInfo[i];
        std::printf("entry %d %s start=0x%08X size=0x%08X datalen=0x%08X update=%d\n", i, p.part, p.start, p.size,
                    p.datalen, p.fneedupdate);
    }
    bool keep = keepBackup;
    if (code != 0 && !gGroupUpdate) {
        rc = UPDTRollBack(dir.data(), n);
        std::printf("rollback=%d\n", rc);
        keep = rc < 0;  // the copies are the only way back
    }
    if (!keep) {
        std::string cmd = "/bin/rm -rf " + VRALStrShellQuoteString(std::string(gszPatchDir) + "/" UPDT_BACKUP_DIR);
        UPDTExecute(cmd.c_str());
    }
    std::printf("code=%d\n", code);
    return code;
}
