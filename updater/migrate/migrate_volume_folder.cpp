// Folders the updater fills on the volume, and its quoted command lines.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "migrate_steps.h"
#include "updt_driver.h"
#include "updt_shell.h"

namespace updt::migrate {

std::string quotedCommand(std::string_view words, std::string_view path)
{
    std::string cmd(words);
    cmd += VRALStrShellQuoteString(path);
    return cmd.size() > UPDT_CMD_MAX ? std::string() : cmd;
}

VolumeFolder::VolumeFolder(std::string_view mkdirWords, std::string_view name)
    : path_(std::string(gszUpgradeVolume) + "/" + std::string(name)), fd_(hold(mkdirWords))
{
}

int VolumeFolder::hold(std::string_view mkdirWords)
{
    struct stat before {};
    // mkdir would take a link put there for the folder it points to.
    if (lstat(path_.c_str(), &before) == 0 && S_ISLNK(before.st_mode) && unlink(path_.c_str()) != 0) {
        MIGRATE_LOG_SHORT("cannot remove the link [%s], errno=%d", path_.c_str(), errno);
        return -1;
    }
    mkdirCmd_ = quotedCommand(mkdirWords, path_);
    if (mkdirCmd_.empty()) {
        MIGRATE_LOG_SHORT("path [%s] too long", path_.c_str());
        return -1;
    }
    mkdirResult_ = std::system(mkdirCmd_.c_str());
    const int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || fstat(fd, &st) != 0) {
        MIGRATE_LOG_SHORT("cannot open the folder [%s], errno=%d", path_.c_str(), errno);
    } else if (st.st_uid != geteuid()) {
        // Another user's folder may hold links planted there.
        MIGRATE_LOG_SHORT("[%s] belongs to uid %u, not used", path_.c_str(), static_cast<unsigned>(st.st_uid));
    } else if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && fchmod(fd, st.st_mode & 0755) != 0) {
        MIGRATE_LOG_SHORT("cannot close [%s] to other users, errno=%d", path_.c_str(), errno);
    } else {
        return fd;
    }
    if (fd >= 0)
        close(fd);
    return -1;
}

void VolumeFolder::clear(const char *name) const
{
    if (held() && unlinkat(fd_.get(), name, 0) != 0 && errno != ENOENT)
        MIGRATE_LOG_SHORT("cannot remove [%s/%s], errno=%d", path_.c_str(), name, errno);
}

int VolumeFolder::run(const std::string &cmd) const
{
    if (!held() || cmd.empty())
        return -1;
    vralio::Fd back(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!back.ok() || fchdir(fd_.get()) != 0) {
        MIGRATE_LOG_SHORT("cannot enter [%s], errno=%d", path_.c_str(), errno);
        return -1;
    }
    const int result = std::system(cmd.c_str());
    if (fchdir(back.get()) != 0)
        MIGRATE_LOG_SHORT("cannot return to the package folder, errno=%d", errno);
    return result;
}

}  // namespace updt::migrate
