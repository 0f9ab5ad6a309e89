// The "/writeable" folder of old models, saved to the volume before the
// new firmware drops the files that used it.
#include <cerrno>
#include <cstring>

#include "migrate_steps.h"

namespace updt::migrate {

namespace {

int failedCommand(const std::string &cmd, int err)
{
    MIGRATE_LOG("Failed to execute szCmd=[%s], errno=(%d)[%s]", cmd.c_str(), err, std::strerror(err));
    return -1;
}

}  // namespace

int saveWriteable(const Step &)
{
    const VolumeFolder saved("/bin/mkdir -p ", "s@vedconfig");
    if (saved.mkdirResult() != 0 || !saved.held())
        return failedCommand(saved.mkdirCommand(), errno);
    // "dir/." copies an empty folder too, where "dir/*" would fail.
    const std::string copy = "/bin/cp -a /writeable/configs/. /writeable/logs/. .";
    if (saved.run(copy) != 0)
        return failedCommand(copy, errno);
    // Only now: the old firmware, if the flash goes back to it, needs them.
    int result = removeObsolete("/etc/rc", "Failed to remove /etc/rc");
    if (removeObsolete("/etc/fstab", "Failed to remove /etc/fstab") != 0)
        result = -1;
    return result;
}

}  // namespace updt::migrate
