// Runs the MSys sequence inside the package folder under the simulated
// kernel, with a migration that passes or fails, cleans up as the driver
// does and prints what the sequence returned.
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "updt_driver.h"
#include "migration_table.h"
#include "updt_msys_update.h"
#include "updt_shell.h"
#include "updt_status.h"

namespace {

int migrationFails()
{
    return UPDT_ERR_CONFIG;
}

}  // namespace

int main(int argc, char **argv)
{
    bool failConfig = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--fail-config") == 0)
            failConfig = true;
        else if (std::strcmp(argv[i], "-g") == 0)
            gGroupUpdate = 1;
        else
            return 99;
    }
    UPDTSelectPartitionTables(0);
    if (getcwd(gszPatchDir, sizeof(gszPatchDir)) == nullptr)
        return 98;
    char state = UPDT_STATE_START;
    MSysEnding ending;
    const int code = UPDTMSysUpdate(&state, failConfig ? migrationFails : UPDTUpdateConfig, ending);
    if (ending.cleanUp && !ending.keepBackup) {
        const std::string cmd = "/bin/rm -rf " + VRALStrShellQuoteString(std::string(gszPatchDir) + "/b@ckup");
        UPDTExecute(cmd.c_str());
    }
    std::printf("code=%d state=%c clean=%d keep=%d touched=%d\n", code, state, ending.cleanUp ? 1 : 0,
                ending.keepBackup ? 1 : 0, UPDTFlashTouched());
    return code;
}
