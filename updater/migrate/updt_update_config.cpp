#include "base/err/err_guard.h"
#include "migration_table.h"

// Every row of the configuration stage runs, also after a failure; the
// driver rolls the flash back on -1.
extern "C" int UPDTUpdateConfig(void)
{
    return vral::NoThrow(-1, [] {
        return updt::migrate::runStage(updt::migrate::steps(), updt::migrate::Stage::AfterWrite) != 0 ? -1 : 0;
    });
}
