// Files of the old firmware that the new one no longer uses.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "migrate_steps.h"

namespace updt::migrate {

namespace {

int removeUpdated(const char *path)
{
    return removeObsolete(path, "Failed to update [" + std::string(path) + "]");
}

}  // namespace

int removeObsolete(const char *path, const std::string &message)
{
    if (unlink(path) == 0 || errno == ENOENT)
        return 0;
    const int err = errno;
    MIGRATE_LOG("%s, errno=(%d)[%s]", message.c_str(), err, std::strerror(err));
    return -1;
}

int removeRcAtalk(const Step &)
{
    return removeUpdated("/usr/vexa/etc/rc.atalk");
}

int removePapdConf(const Step &)
{
    return removeUpdated("/usr/vexa/etc/papd.conf");
}

int removeEtcProfile(const Step &)
{
    return removeObsolete("/etc/profile", "Failed to remove /etc/profile");
}

int removeJumboFrameScript(const Step &)
{
    return removeObsolete("/usr/vexa/etc/rc.d/S78JumboFrame.sh", "Failed to remove /usr/vexa/etc/rc.d");
}

int removeManutilConf(const Step &)
{
    return removeUpdated("/usr/vexa/etc/manutil.conf");
}

int removePhpIni(const Step &)
{
    return removeObsolete("/usr/vexa/etc/php.ini", "Failed to remove /usr/vexa/etc/php.ini");
}

}  // namespace updt::migrate
