// Folders the updater fills on the volume, and its quoted command lines.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "migrate_steps.h"
#include "updt_driver.h"
#include "updt_shell.h"

namespace updt::migrate {

bool FolderEntries(int dirFd, std::vector<std::string> &names)
{
    const int dup = fcntl(dirFd, F_DUPFD_CLOEXEC, 0);
    DIR *d = dup >= 0 ? fdopendir(dup) : nullptr;
    if (d == nullptr) {
        if (dup >= 0)
            close(dup);
        return false;
    }
    errno = 0;
    while (const struct dirent *e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
        errno = 0;
    }
    const bool whole = errno == 0;
    closedir(d);
    return whole;
}

std::string quotedCommand(std::string_view words, std::string_view path)
{
    return updt::commandLine({{words, false}, {path, true}});
}

VolumeFolder::VolumeFolder(std::string_view mkdirWords, std::string_view name)
    : name_(name), path_(std::string(gszUpgradeVolume) + "/" + std::string(name)), fd_(hold(mkdirWords))
{
}

namespace {

constexpr int kTries = 3;
// How many names aside are tried before the run gives up.
constexpr int kAsideMax = 1000;

bool isEmptyFolder(int fd)
{
    std::vector<std::string> names;
    return FolderEntries(fd, names) && names.empty();
}

}  // namespace

// A folder of root's, closed to others from the start, is the folder: only
// root can have put names in it.  One that was open to others may hold
// their links: used only when it is empty once closed.
bool VolumeFolder::fit(int fd, std::string &why) const
{
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        why = "cannot be examined, errno=" + std::to_string(errno);
        return false;
    }
    if (st.st_uid != geteuid()) {
        why = "belongs to uid " + std::to_string(st.st_uid);
        return false;
    }
    if ((st.st_mode & 07777) == 0755)
        return true;
    const bool wasOpen = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (fchmod(fd, 0755) != 0) {
        why = "cannot be closed to other users, errno=" + std::to_string(errno);
        return false;
    }
    if (wasOpen && !isEmptyFolder(fd)) {
        why = "was open to other users and holds names";
        return false;
    }
    return true;
}

// Whatever stands at the name is renamed to the first free "<name>.<n>":
// kept, never removed, never entered.
bool VolumeFolder::moveAside(int volume, const std::string &why)
{
    for (int n = 1; n <= kAsideMax; ++n) {
        const std::string aside = name_ + "." + std::to_string(n);
        if (renameat2(volume, name_.c_str(), volume, aside.c_str(), RENAME_NOREPLACE) == 0) {
            UPDT_LOG_LINE("[%s] %s: kept as [%s/%s]", path_.c_str(), why.c_str(), gszUpgradeVolume,
                          aside.c_str());
            return true;
        }
        if (errno == ENOENT)
            return true;
        if (errno != EEXIST)
            break;
    }
    err_ = errno;
    UPDT_LOG_LINE("[%s] %s and cannot be moved aside, errno=%d", path_.c_str(), why.c_str(), err_);
    return false;
}

int VolumeFolder::hold(std::string_view mkdirWords)
{
    mkdirCmd_ = quotedCommand(mkdirWords, path_);
    vralio::Fd volume(open(gszUpgradeVolume, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!volume.ok()) {
        err_ = errno;
        UPDT_LOG_LINE("cannot open the volume [%s], errno=%d", gszUpgradeVolume, err_);
        return -1;
    }
    for (int i = 0; i < kTries; ++i) {
        if (mkdirat(volume.get(), name_.c_str(), 0755) != 0 && errno != EEXIST) {
            err_ = errno;
            UPDT_LOG_LINE("cannot make [%s], errno=%d", path_.c_str(), err_);
            return -1;
        }
        // A link or a file at the name is never followed nor used.
        const int fd = openat(volume.get(), name_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        std::string why;
        if (fd >= 0 && fit(fd, why))
            return fd;
        if (fd >= 0)
            close(fd);
        else if (errno == ENOENT)
            continue;
        else
            why = errno == ELOOP || errno == ENOTDIR ? "is no folder" : "cannot be opened, errno=" + std::to_string(errno);
        if (!moveAside(volume.get(), why))
            return -1;
    }
    err_ = EAGAIN;
    UPDT_LOG_LINE("[%s] keeps being replaced, not used", path_.c_str());
    return -1;
}

void VolumeFolder::clear(const char *name) const
{
    if (held() && unlinkat(fd_.get(), name, 0) != 0 && errno != ENOENT)
        UPDT_LOG_LINE("cannot remove [%s/%s], errno=%d", path_.c_str(), name, errno);
}

int VolumeFolder::run(const std::string &cmd) const
{
    if (!held() || cmd.empty())
        return -1;
    vralio::Fd back(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!back.ok() || fchdir(fd_.get()) != 0) {
        UPDT_LOG_LINE("cannot enter [%s], errno=%d", path_.c_str(), errno);
        return -1;
    }
    const int result = std::system(cmd.c_str());
    if (fchdir(back.get()) != 0)
        UPDT_LOG_LINE("cannot return to the package folder, errno=%d", errno);
    return result;
}

}  // namespace updt::migrate
