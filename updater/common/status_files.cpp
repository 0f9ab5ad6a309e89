// The progress and message files for the user interface, and the update
// log for the administrator.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/file/vral_file.h"
#include "base/io/io_fd.h"
#include "base/io/vral_io.h"
#include "base/string/vral_string.h"
#include "base/file/file_tmp_file.h"
#include "updt_status.h"

namespace {

constexpr int kLockRetries = 20;
constexpr useconds_t kLockPauseUs = 337;

// A file fit to be written in place: a regular file of ours with one name.
bool ownPlainFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == ::geteuid();
}

// The status files live in a world-writable folder: a link, a FIFO, a file
// with another name or another user's file planted there is removed and a
// new file made in its place, so that nothing is written through it and
// the open never blocks.  The descriptor stays out of the commands we start.
int openStatusFile(const char *path)
{
    constexpr int kTries = 3;
    for (int i = 0; i < kTries; ++i) {
        struct stat st;
        if (::lstat(path, &st) == 0 && ownPlainFile(st)) {
            int fd = ::open(path, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) {
                // What was opened may not be what lstat saw: check it again.
                if (::fstat(fd, &st) == 0 && ownPlainFile(st))
                    return fd;
                ::close(fd);
            }
        }
        if (::lstat(path, &st) == 0) {
            syslog(LOG_ERR, "%s(%d): [%s] is not a plain file of the updater, replaced", __func__, __LINE__, path);
            if (::unlink(path) != 0 && errno != ENOENT) {
                syslog(LOG_ERR, "%s(%d): cannot remove [%s], errno = %d", __func__, __LINE__, path, errno);
                return -1;
            }
        }
        // Every text ends in blanks and readers stop at the second colon,
        // so an existing file is reused untruncated; a new one is made here.
        int fd = ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return -1;
    }
    syslog(LOG_ERR, "%s(%d): [%s] keeps being replaced, not written", __func__, __LINE__, path);
    return -1;
}

bool lockFile(int fd, bool wait)
{
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
        return true;
    if (!wait)
        return false;
    for (int i = 0; i < kLockRetries; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        ::usleep(kLockPauseUs);
    }
    return false;
}

}  // namespace

namespace {

// Writes text at offset 0 under the file's lock.
int writeStatus(const char *szPath, const char *szText, int fWait)
{
    if (szPath == nullptr || szText == nullptr)
        return UPDT_STATUS_NO_FILE;
    vralio::Fd fd(openStatusFile(szPath));
    if (!fd.ok())
        return UPDT_STATUS_NO_FILE;
    if (!lockFile(fd.get(), fWait != 0))
        return UPDT_STATUS_NO_LOCK;
    const size_t len = std::strlen(szText);
    const int ret = VRALIoPWriteAll(fd.get(), szText, len, 0) == static_cast<ssize_t>(len) ? UPDT_STATUS_OK
                                                                                            : UPDT_STATUS_NO_WRITE;
    ::flock(fd.get(), LOCK_UN);
    return ret;
}

}  // namespace

extern "C" int UPDTWriteStatusFile(const char *szPath, const char *szText, int fWait)
{
    return writeStatus(szPath, szText, fWait);
}

extern "C" int UPDTSetProgress(char chState, int value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%c:%d:      ", chState, value);
    return UPDTWriteStatusFile(UPDT_PROGRESS_FILE, text, 1);
}

namespace {

// The message file's lines as they are, read only from a regular file of
// ours with one name, opened without following a link; "" for anything
// else, which the new file then replaces.
std::string ownMessageLines()
{
    vralio::Fd fd(::open(UPDT_MESSAGE_FILE, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st;
    if (!fd.ok() || ::fstat(fd.get(), &st) != 0 || !ownPlainFile(st))
        return std::string();
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd.get(), buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    return n < 0 ? std::string() : text;
}

// The key's first line replaced by line, its later lines dropped, line
// appended when the key is missing; every other line kept.
std::string withKeyLine(const std::string &old, const char *szKey, std::string line)
{
    std::string out;
    bool placed = false;
    size_t pos = 0;
    while (pos < old.size()) {
        size_t end = old.find('\n', pos);
        end = end == std::string::npos ? old.size() : end + 1;
        std::string one = old.substr(pos, end - pos);
        pos = end;
        std::string probe = one;
        if (VRALFileLineKeyMatch(probe.data(), szKey) == 1) {
            if (!placed)
                out += line;
            placed = true;
            continue;
        }
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += one;
    }
    if (!placed) {
        if (!out.empty() && out.back() != '\n')
            out += '\n';
        out += line;
    }
    return out;
}

int setMessageKey(const char *szKey, const char *szValue)
{
    char text[1024];
    std::snprintf(text, sizeof(text), "%s=\"%s\"\n", szKey, szValue);
    const std::string content = withKeyLine(ownMessageLines(), szKey, text);
    // The temporary file is made exclusively, root's and 0644 whatever the
    // old file was, and renamed over whatever stands at the name.
    char tmpPath[64];
    if (VRALFileTempNameGet(UPDT_MESSAGE_FILE ".", tmpPath, sizeof tmpPath) != 0)
        return UPDT_STATUS_NO_FILE;
    vralfile::TmpFile tmp(UPDT_MESSAGE_FILE, tmpPath, 0644);
    if (!tmp.ok() || tmp.setOwner(::geteuid(), ::getegid()) != 0 || tmp.setMode(0644) != 0)
        return UPDT_STATUS_NO_FILE;
    tmp.text() = content;
    if (tmp.finish() != 0)
        return UPDT_STATUS_NO_WRITE;
    return tmp.moveIn() == 0 ? UPDT_STATUS_OK : UPDT_STATUS_NO_WRITE;
}

}  // namespace

extern "C" int UPDTWriteMessage(const char *szKey, const char *szValue)
{
    if (szKey == nullptr || szValue == nullptr)
        return UPDT_STATUS_NO_FILE;
    try {
        return setMessageKey(szKey, szValue);
    } catch (const std::bad_alloc &) {
        return UPDT_STATUS_NO_WRITE;
    }
}

extern "C" void UPDTWriteLog(const char *szText)
{
    if (szText == nullptr)
        return;
    char stamp[64] = {};
    time_t now = std::time(nullptr);
    struct tm tmNow;
    if (localtime_r(&now, &tmNow) != nullptr)
        std::strftime(stamp, sizeof(stamp), "%Y/%m/%d %H:%M:%S", &tmNow);
    try {
        std::string line;
        line.reserve(std::strlen(szText) + 24);
        line.append(stamp).append("\t").append(szText);
        VRALErrorLogSet(UPDT_LOG_FILE, line.c_str());
    } catch (const std::bad_alloc &) {
        // The log is best effort; the update goes on without the line.
    }
}

extern "C" void UPDTCheckLogSize(void)
{
    struct stat st;
    if (::stat(UPDT_LOG_FILE, &st) == 0 && static_cast<long long>(st.st_size) > UPDT_LOG_SIZE_LIMIT)
        VRALErrorLogClear(UPDT_LOG_FILE);
}
