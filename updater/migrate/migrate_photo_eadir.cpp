// The photo share's thumbnail folders, opened to the services of the new
// firmware that run as other users.  The share is its users': the walk
// holds each folder by descriptor, follows no link below the share's own
// folder, never leaves the share's file system and changes only folders
// and regular files with one name, so nothing a user links or swaps in
// there is opened up.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "migrate_steps.h"

namespace updt::migrate {

namespace {

// "/" at the end: a link naming the share itself is followed, as the
// shell command's path did; nothing below it is.
constexpr char kPhotoShare[] = "/var/services/photo/";
constexpr char kEaDir[] = "@eaDir";
constexpr int kDepthMax = 128;

struct Walk {
    dev_t dev;
    int skipped = 0;
};

std::vector<std::string> namesIn(int dirFd, Walk &w)
{
    std::vector<std::string> names;
    if (!FolderEntries(dirFd, names))
        ++w.skipped;
    return names;
}

// The entry opened as what fstatat saw: a folder on the share's file
// system, or a regular file with one name; -1 for anything else or when
// it was swapped in between.
int openEntry(int dirFd, const char *name, const Walk &w, bool &isDir)
{
    struct stat seen {};
    if (fstatat(dirFd, name, &seen, AT_SYMLINK_NOFOLLOW) != 0)
        return -1;
    isDir = S_ISDIR(seen.st_mode);
    // Another file system is entered through a folder mounted there; the
    // files of some (layered ones) report their own layer's device.
    if (isDir ? seen.st_dev != w.dev : !(S_ISREG(seen.st_mode) && seen.st_nlink == 1))
        return -1;
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (isDir ? O_DIRECTORY : 0);
    const int fd = openat(dirFd, name, flags);
    if (fd < 0)
        return -1;
    struct stat now {};
    if (fstat(fd, &now) != 0 || now.st_dev != seen.st_dev || now.st_ino != seen.st_ino ||
        (!isDir && now.st_nlink != 1)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Mode 0777 for the folder and everything fit below it.
void openUp(int dirFd, Walk &w, int depth)
{
    if (fchmod(dirFd, 0777) != 0)
        ++w.skipped;
    if (depth >= kDepthMax) {
        ++w.skipped;
        return;
    }
    for (const std::string &name : namesIn(dirFd, w)) {
        bool isDir = false;
        vralio::Fd fd(openEntry(dirFd, name.c_str(), w, isDir));
        if (!fd.ok()) {
            ++w.skipped;
            continue;
        }
        if (isDir)
            openUp(fd.get(), w, depth + 1);
        else if (fchmod(fd.get(), 0777) != 0)
            ++w.skipped;
    }
}

// Every folder named @eaDir below dirFd is opened up.
void findEaDirs(int dirFd, Walk &w, int depth)
{
    if (depth >= kDepthMax) {
        ++w.skipped;
        return;
    }
    for (const std::string &name : namesIn(dirFd, w)) {
        struct stat st {};
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
            continue;
        bool isDir = false;
        vralio::Fd fd(openEntry(dirFd, name.c_str(), w, isDir));
        if (!fd.ok()) {
            ++w.skipped;
            continue;
        }
        if (name == kEaDir)
            openUp(fd.get(), w, depth + 1);
        else
            findEaDirs(fd.get(), w, depth + 1);
    }
}

}  // namespace

int chmodPhotoEaDir(const Step &)
{
    vralio::Fd share(open(kPhotoShare, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (!share.ok() || fstat(share.get(), &st) != 0)
        return 0;  // no photo share: nothing to open up
    try {
        Walk w{st.st_dev};
        findEaDirs(share.get(), w, 0);
        if (w.skipped > 0)
            UPDT_LOG_LINE("%d entries under [%s] left as they are (links, files with more names, other file "
                          "systems or swapped)",
                          w.skipped, kPhotoShare);
    } catch (const std::bad_alloc &) {
        UPDT_LOG_LINE("out of memory while opening up [%s]", kPhotoShare);
    }
    return 0;
}

}  // namespace updt::migrate
