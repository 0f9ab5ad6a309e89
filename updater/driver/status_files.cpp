// The progress and message files for the user interface, and the update
// log for the administrator.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "base/err/vral_err.h"
#include "base/io/io_fd.h"
#include "base/io/vral_io.h"
#include "updt_status.h"

namespace {

constexpr int kLockRetries = 20;
constexpr useconds_t kLockPauseUs = 337;

// The status files live in a world-writable folder: never follow a link
// planted there, and keep the descriptor out of the commands we start.
int openStatusFile(const char *path)
{
    int fd = ::open(path, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    // Created when missing; an existing file is never truncated, since
    // every text ends in blanks and readers stop at the second colon.
    return ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
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

extern "C" int UPDTWriteStatusFile(const char *szPath, const char *szText, int fWait)
{
    if (szPath == nullptr || szText == nullptr)
        return UPDT_STATUS_NO_FILE;
    vralio::Fd fd(openStatusFile(szPath));
    if (!fd.ok())
        return UPDT_STATUS_NO_FILE;
    if (!lockFile(fd.get(), fWait != 0))
        return UPDT_STATUS_NO_LOCK;
    const size_t len = std::strlen(szText);
    int ret = VRALIoPWriteAll(fd.get(), szText, len, 0) == static_cast<ssize_t>(len) ? UPDT_STATUS_OK
                                                                                      : UPDT_STATUS_NO_WRITE;
    ::flock(fd.get(), LOCK_UN);
    return ret;
}

extern "C" int UPDTSetProgress(char chState, int value)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%c:%d:      ", chState, value);
    return UPDTWriteStatusFile(UPDT_PROGRESS_FILE, text, 1);
}

extern "C" int UPDTWriteMessage(const char *szKey, const char *szValue)
{
    if (szKey == nullptr || szValue == nullptr)
        return UPDT_STATUS_NO_FILE;
    char text[1024];
    std::snprintf(text, sizeof(text), "%s=\"%s\"", szKey, szValue);
    return UPDTWriteStatusFile(UPDT_MESSAGE_FILE, text, 1);
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
