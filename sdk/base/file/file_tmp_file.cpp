#include <fcntl.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "base/err/err_log.h"
#include "base/err/vral_err.h"
#include "base/io/vral_io.h"
#include "base/file/file_internal.h"
#include "base/file/file_tmp_file.h"

namespace vralfile {

TmpFile::TmpFile(const char *target, const char *tmpPath, mode_t defaultMode) : target_(target), path_(tmpPath)
{
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = defaultMode;
    struct stat st {};
    if (lstat(target, &st) == 0 && S_ISREG(st.st_mode)) {
        uid = st.st_uid;
        gid = st.st_gid;
        mode = st.st_mode & 07777;
    }
    // 0600 until the owner and mode are set on the descriptor; a leftover
    // of an earlier run (or a link put there) is removed, never written to
    for (int attempt = 0; attempt < 2 && fd_ < 0; ++attempt) {
        fd_ = open(tmpPath, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno == EEXIST)
            unlink(tmpPath);
        else if (fd_ < 0)
            break;
    }
    if (fd_ < 0) {
        VRAL_LOG(LOG_ERR, "fail to open file[%s]", tmpPath);
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return;
    }
    own(uid, gid, mode);
}

TmpFile::TmpFile(const char *target, const struct stat &st) : target_(target), path_(target_ + ".XXXXXX")
{
    // The name is complete before the file exists: from then on nothing
    // may throw and leave it behind.
    fd_ = mkostemp(path_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        VRAL_LOG(LOG_ERR, "fail to open file[%s]", path_.c_str());
        VRAL_ERR_SET(ERR_OPEN_FAILED);
        return;
    }
    own(st.st_uid, st.st_gid, st.st_mode & 07777);
}

// Owner before mode, both before the first byte: a change of owner clears
// set-id bits.
void TmpFile::own(uid_t uid, gid_t gid, mode_t mode)
{
    if (fchown(fd_, uid, gid) != 0 || fchmod(fd_, mode) != 0) {
        VRAL_LOG(LOG_ERR, "cannot set owner and mode of %s. errno=%d/%m", path_.c_str(), errno);
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        close(fd_);
        fd_ = -1;
        unlink(path_.c_str());
    }
}

TmpFile::~TmpFile()
{
    if (fd_ < 0)
        return;
    close(fd_);
    if (!moved_)
        unlink(path_.c_str());
}

int TmpFile::setMode(mode_t mode)
{
    if (fd_ < 0 || fchmod(fd_, mode) != 0) {
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    return 0;
}

int TmpFile::setOwner(uid_t uid, gid_t gid)
{
    if (fd_ < 0 || fchown(fd_, uid, gid) != 0) {
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    return 0;
}

int TmpFile::finish()
{
    if (fd_ < 0)
        return -1;
    if (!text_.empty() && VRALIoWriteAll(fd_, text_.data(), text_.size()) != static_cast<ssize_t>(text_.size())) {
        const int e = errno;
        VRAL_LOG(LOG_ERR, "fflush failed!! errno=%d/%m", e);
        VRAL_ERR_SET(e == ENOSPC ? ERR_NO_SPACE : ERR_WRITE_FAILED);
        return -1;
    }
    if (fsync(fd_) != 0 || fstat(fd_, &st_) != 0) {
        VRAL_LOG(LOG_ERR, "fsync() failed!! errno=%d/%m", errno);
        VRAL_ERR_SET(ERR_WRITE_FAILED);
        return -1;
    }
    return 0;
}

int TmpFile::moveIn()
{
    if (fd_ < 0 || rename(path_.c_str(), target_.c_str()) != 0) {
        syslog(LOG_WARNING, "%s:%d rename %s file failed!", __FILE_NAME__, __LINE__, path_.c_str());
        VRAL_ERR_SET(ERR_RENAME_FAILED);
        return -1;
    }
    moved_ = true;
    SyncParentDir(target_);
    return 0;
}

}  // namespace vralfile
