// Runs the run's sequence on the MSys road inside the package folder under
// the simulated kernel, with a migration that passes or fails, and prints
// what the sequence returned.
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "updt_driver.h"
#include "updt_sequence.h"
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
    updt::Road road = updt::msysRoad();
    if (failConfig)
        road.configure = migrationFails;
    updt::Ending ending;
    const int code = updt::runSequence(&state, road, ending);
    std::printf("code=%d state=%c clean=%d keep=%d touched=%d\n", code, state, ending.cleanUp ? 1 : 0,
                ending.keepBackup ? 1 : 0, UPDTFlashTouched());
    return code;
}
