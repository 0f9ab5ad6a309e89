#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "base/io/io_path.h"
#include "services/log/log_internal.h"

namespace vexalog {

namespace {

// A link another user cannot have put there, nor swap: its folder is
// root's and writable by root alone.
bool rootsAlone(const std::string &link)
{
    struct stat dir {};
    return stat(vralio::folderOf(link).c_str(), &dir) == 0 && dir.st_uid == 0 &&
           (dir.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool logTarget(const char *path, std::string *pTarget)
{
    std::string at = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (!rootsAlone(at)) {
            syslog(LOG_ERR, "logfile %s is a link in a folder others can write, not followed", at.c_str());
            return false;
        }
        char link[PATH_MAX];
        const ssize_t n = readlink(at.c_str(), link, sizeof link - 1);
        if (n < 0)
            break;
        link[n] = '\0';
        at = link[0] == '/' ? std::string(link) : vralio::folderOf(at) + "/" + link;
    }
    *pTarget = at;
    return true;
}

int openRetrying(const char *path, int flags)
{
    std::string target;
    if (!logTarget(path, &target))
        return -1;
    for (int attempt = 0;; ++attempt) {
        // A link met here was put there since it was looked at: refused.
        const int fd = open(target.c_str(), flags | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || attempt == 10 || errno == ELOOP)
            return fd;
        sleep(1);
    }
}

}  // namespace vexalog
