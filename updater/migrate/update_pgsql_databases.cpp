#include "base/err/err_guard.h"
#include "migration_table.h"

// The database rows start the service when the first of them runs; the
// re-index follows them only then.  Their results never fail the update.
extern "C" int UpdatePgsqlDatabases(void)
{
    return vral::NoThrow(0, [] {
        updt::migrate::runStage(updt::migrate::steps(), updt::migrate::Stage::Databases);
        return 0;
    });
}
