// Runs the updater's own flash stage inside the package folder under the
// simulated kernel, rolls back as the driver does after a failure, and
// prints what each step returned.  Options put a change between two steps
// of the stage where a test needs one.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

#include "updt_driver.h"
#include "updt_flash_stage.h"
#include "updt_shell.h"
#include "updt_status.h"

namespace {

// What the stage's exit code says about each of its steps.
void printSteps(int code)
{
    if (code == UPDT_ERR_PARTITION_INFO || code == UPDT_ERR_SPACE)
        return;
    std::printf("init=%d\n", code == UPDT_ERR_PATCH_INFO ? -1 : 0);
    if (code == UPDT_ERR_PATCH_INFO)
        return;
    if (!gGroupUpdate)
        std::printf("backup=%d\n", code == UPDT_ERR_BACKUP ? -1 : 0);
    if (code == UPDT_ERR_BACKUP)
        return;
    std::printf("patch=%d touched=%d\n", code == UPDT_OK ? 0 : -1, UPDTFlashTouched());
}

}  // namespace

int main(int argc, char **argv)
{
    std::string removeAfterInit;
    bool bantam = false, failAfter = false, repair = false, dropCopies = false, keepBackup = false;
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
        else if (a == "--drop-copies")
            dropCopies = true;  // the copies vanish before the roll-back
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

    std::vector<FISDIRENTRY> dir;
    int n = 0;
    bool rollBack = false;
    int code;
    if (initOnly || !removeAfterInit.empty()) {
        code = UPDTFlashReadTable(dir, n);
        if (initOnly) {
            std::printf("init=%d\n", code == UPDT_OK ? 0 : -1);
            for (int i = 0; i < gPatchCount; ++i) {
                const PATCHINFO &p = gPatchInfo[i];
                std::printf("table %d %s datalen=0x%08X balance=%d update=%d\n", i, p.part, p.datalen, p.balance,
                            p.fneedupdate);
            }
            return code;
        }
        if (code == UPDT_OK) {
            std::remove(removeAfterInit.c_str());
            code = UPDTFlashWritePartitions(dir, n, rollBack);
        }
    } else {
        code = UPDTFlashStage(dir, n, rollBack);
    }
    printSteps(code);
    if (code != UPDT_OK && !rollBack)
        return code;

    for (int i = 0; i < gPatchCount; ++i) {
        const PATCHINFO &p = gPatchInfo[i];
        std::printf("entry %d %s start=0x%08X size=0x%08X datalen=0x%08X update=%d\n", i, p.part, p.start, p.size,
                    p.datalen, p.fneedupdate);
    }
    if (code == UPDT_OK && failAfter)
        code = UPDT_ERR_CONFIG;
    const std::string backup = std::string(gszPatchDir) + "/" UPDT_BACKUP_DIR;
    if (dropCopies)
        for (const auto &e : std::filesystem::directory_iterator(backup))
            std::filesystem::remove(e.path());
    bool keep = keepBackup;
    if (code != UPDT_OK && !gGroupUpdate) {
        int rc = UPDTRollBack(dir.data(), n);
        std::printf("rollback=%d\n", rc);
        keep = rc < 0;  // the copies are the only way back
    }
    if (!keep) {
        std::string cmd = "/bin/rm -rf " + VRALStrShellQuoteString(backup);
        UPDTExecute(cmd.c_str());
    }
    std::printf("code=%d\n", code);
    return code;
}
