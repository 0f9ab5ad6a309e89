// The "/writeable" folder of old models, saved to the volume before the
// new firmware drops the files that used it.
#include <fcntl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "migrate_steps.h"

namespace updt::migrate {

namespace {

constexpr const char *kSources[] = {"/writeable/configs", "/writeable/logs"};

int failedCommand(const std::string &cmd, int err)
{
    MIGRATE_LOG("Failed to execute szCmd=[%s], errno=(%d)[%s]", cmd.c_str(), err, std::strerror(err));
    return -1;
}

// The names in a source folder; false when it cannot be read.
bool entriesOf(const char *folder, std::vector<std::string> &names)
{
    vralio::Fd fd(open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.ok() && FolderEntries(fd.get(), names);
}

// Copies each entry of folder into the saved folder; the folder itself is
// never copied, so its owner and mode never reach the saved one, and an
// empty folder copies nothing.  0, or -1 logged with the failing command.
int copyEntries(const VolumeFolder &saved, const char *folder)
{
    std::vector<std::string> names;
    if (!entriesOf(folder, names))
        return failedCommand(std::string("/bin/cp -a ") + folder + "/* .", errno);
    for (const std::string &name : names) {
        const std::string source = std::string(folder) + "/" + name;
        std::string cmd = quotedCommand("/bin/cp -a -- ", source);
        if (cmd.empty())
            return failedCommand("/bin/cp -a -- " + source + " .", ENAMETOOLONG);
        cmd += " .";
        if (saved.run(cmd) != 0)
            return failedCommand(cmd, errno);
    }
    return 0;
}

}  // namespace

int saveWriteable(const Step &)
{
    const VolumeFolder saved("/bin/mkdir -p ", "s@vedconfig");
    if (!saved.held())
        return failedCommand(saved.mkdirCommand(), saved.error());
    for (const char *folder : kSources) {
        if (copyEntries(saved, folder) != 0)
            return -1;
    }
    // Only now: the old firmware, if the flash goes back to it, needs them.
    int result = removeObsolete("/etc/rc", "Failed to remove /etc/rc");
    if (removeObsolete("/etc/fstab", "Failed to remove /etc/fstab") != 0)
        result = -1;
    return result;
}

}  // namespace updt::migrate
