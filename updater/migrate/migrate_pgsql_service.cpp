// The database service the database steps talk to, and the media index
// rebuilt after them.
#include <cstdlib>

#include "base/proc/vral_proc.h"
#include "migrate_steps.h"

namespace updt::migrate {

namespace {

// Set once the first database step of the run asked for the service.
bool gServiceAsked = false;

}  // namespace

void startPgsql()
{
    if (gServiceAsked)
        return;
    gServiceAsked = true;
    if (VEXAProcExec("/usr/vexa/etc/rc.d/S20pgsql.sh", "start", nullptr, nullptr, nullptr) < 0)
        syslog(LOG_ERR, "%s: %d: failed to start postgre database.", "updater", __LINE__);
}

void pgsqlCommand(const std::string &cmd, const VolumeFolder *inside)
{
    startPgsql();
    // What the database commands leave is not looked at.
    if ((inside != nullptr ? inside->run(cmd) : std::system(cmd.c_str())) != 0) {
    }
}

// Follows the database steps, when any of them ran.
int reindexMedia(const Step &)
{
    if (gServiceAsked && std::system("/usr/vexa/bin/vexaindex -R all") != 0) {
        // Not looked at either.
    }
    return 0;
}

}  // namespace updt::migrate
