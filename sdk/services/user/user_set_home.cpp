#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "base/string/vral_string.h"
#include "services/share/vexa_share.h"
#include "services/user/user_set_internal.h"

namespace {

// mkdir with mode 0755, then owner and mode on the folder itself, never
// through a link put in its place.  false ends the step.
bool createHome(const std::string &path, const VEXAUSER *u)
{
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        USER_LOG("mkdir user home folder failed. errno:%d, message:%m", errno);
        return false;
    }
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 || fchown(fd, static_cast<uid_t>(u->uid), static_cast<gid_t>(u->gid)) != 0 ||
        fchmod(fd, 0755) != 0)
        USER_LOG("chown user home folder failed.");
    if (fd >= 0)
        close(fd);
    return true;
}

}  // namespace

namespace vexauser {

void SDKISetUserHome(const Batch &b)
{
    VEXASHARE *homes = nullptr;
    if (VEXAShareGet("homes", &homes) != 0 || homes == nullptr || homes->szPath == nullptr) {
        VEXAShareFree(homes);
        return;
    }
    const std::string root = homes->szPath;
    VEXAShareFree(homes);
    for (int i = 0; i < b.n; ++i) {
        if (!b.isWritten(i))
            continue;
        const VEXAUSER *u = b.users[i];
        if (b.isNew(i)) {
            if (!createHome(root + "/" + u->szName, u))
                return;
        } else if (b.renames(i)) {
            const std::string cmd = "mv " + VRALStrShellQuoteString(root + "/" + b.oldNames[i]) + " " +
                                    VRALStrShellQuoteString(root + "/" + u->szName) + " > /dev/null 2>&1";
            if (system(cmd.c_str()) != 0)
                USER_LOG("cmd failed:%s.", cmd.c_str());
        }
    }
}

}  // namespace vexauser
