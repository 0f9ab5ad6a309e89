// Dumps of the photo and download databases for the new database server,
// on the volume in @pgsql_upgrade.
#include <string>

#include "migrate_steps.h"

namespace updt::migrate {

int dumpPgsqlDbs(const Step &)
{
    startPgsql();
    const VolumeFolder dumps("mkdir ", "@pgsql_upgrade");
    if (!dumps.held()) {
        UPDT_LOG_LINE("no folder for the database dumps, not dumped");
        return 0;
    }
    // Written inside the held folder, each file made anew.
    for (const char *db : {"photo", "download"}) {
        const std::string file = std::string(db) + ".sql";
        dumps.clear(file.c_str());
        pgsqlCommand("/usr/vexa/pgsql/bin/pg_dump -C -o -U admin " + std::string(db) + " > " + file, &dumps);
    }
    return 0;
}

}  // namespace updt::migrate
