#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/io/io_fd.h"
#include "services/share/vexa_share.h"
#include "services/user/user_set_internal.h"

namespace {

// The share's folder, opened from "/" one name at a time and never through
// a link: whoever can write the volume may swap any folder of the path for
// one, before or while the batch runs.  Not held (-1, logged) when a name
// is missing, no folder or a link.
vralio::Fd holdFolder(const std::string &path)
{
    if (path.empty() || path[0] != '/') {
        VRAL_LOG_ERR("homes path [%s] is not absolute, no home set", path.c_str());
        return vralio::Fd();
    }
    int at = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    size_t pos = 1;
    while (at >= 0 && pos < path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty() || name == ".")
            continue;
        // ".." could climb out of a folder moved meanwhile
        int next = -1;
        if (name == "..")
            errno = EINVAL;
        else
            next = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0)
            VRAL_LOG_ERR("open homes folder [%s] at [%s] failed. errno:%d, message:%m", path.c_str(), name.c_str(), errno);
        close(at);
        at = next;
    }
    return vralio::Fd(at);
}

// A name that stays inside the homes folder.
bool homeName(const char *name)
{
    const bool ok = name != nullptr && name[0] != '\0' && strcmp(name, ".") != 0 && strcmp(name, "..") != 0 &&
                    strchr(name, '/') == nullptr;
    if (!ok)
        VRAL_LOG_ERR("user name [%s] names no home folder", name != nullptr ? name : "");
    return ok;
}

// mkdirat with mode 0755, then owner and mode through the folder opened
// without following a link put in its place.  false ends the step.
bool createHome(int homes, const VEXAUSER *u)
{
    if (mkdirat(homes, u->szName, 0755) != 0 && errno != EEXIST) {
        VRAL_LOG_ERR("mkdir user home folder failed. errno:%d, message:%m", errno);
        return false;
    }
    vralio::Fd fd(openat(homes, u->szName, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok() || fchown(fd.get(), static_cast<uid_t>(u->uid), static_cast<gid_t>(u->gid)) != 0 ||
        fchmod(fd.get(), 0755) != 0)
        VRAL_LOG_ERR("chown user home folder failed.");
    return true;
}

// renameat inside the held folder: the target is never entered or
// followed, and one that is there and no empty folder keeps the home where
// it is.
void moveHome(int homes, const std::string &root, const char *oldName, const char *newName)
{
    if (renameat(homes, oldName, homes, newName) != 0)
        VRAL_LOG_ERR("move user home folder [%s/%s] to [%s] failed. errno:%d, message:%m", root.c_str(), oldName,
                     newName, errno);
}

}  // namespace

namespace vexauser {

void SDKISetUserHome(const Batch &b)
{
    VEXASHARE *share = nullptr;
    if (VEXAShareGet("homes", &share) != 0 || share == nullptr || share->szPath == nullptr) {
        VEXAShareFree(share);
        return;
    }
    const std::string root = share->szPath;
    VEXAShareFree(share);
    bool any = false;
    for (int i = 0; i < b.n && !any; ++i)
        any = b.isWritten(i) && (b.isNew(i) || b.renames(i));
    if (!any)
        return;
    const vralio::Fd homes = holdFolder(root);
    if (!homes.ok())
        return;
    for (int i = 0; i < b.n; ++i) {
        if (!b.isWritten(i))
            continue;
        const VEXAUSER *u = b.users[i];
        if (b.isNew(i)) {
            if (homeName(u->szName) && !createHome(homes.get(), u))
                return;
        } else if (b.renames(i) && homeName(b.oldNames[i]) && homeName(u->szName)) {
            moveHome(homes.get(), root, b.oldNames[i], u->szName);
        }
    }
}

}  // namespace vexauser
