// The media server's database, which the new firmware builds anew.
#include "migrate_steps.h"

namespace updt::migrate {

int dropMediaDb(const Step &)
{
    pgsqlCommand("su -l admin -c \"/usr/vexa/pgsql/bin/dropdb mediaserver\"");
    return 0;
}

}  // namespace updt::migrate
