#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/io/io_fd.h"
#include "base/io/vral_io.h"
#include "services/log/log_internal.h"

namespace vexalog {

namespace {

// One open log file and its ring: O the oldest record, W the write offset.
// Offsets that are stored are synced first, so a record's bytes reach the
// disk before the offset that publishes them, and dropped records are
// given up on disk before their bytes are overwritten.
class Ring {
public:
    Ring(int fd, const char *path, uint32_t limit) : fd_(fd), path_(path), limit_(limit) {}

    bool load()
    {
        unsigned char h[16];
        struct stat st {};
        if (VRALIoPReadAll(fd_, h, 4, 0) != 4 || memcmp(h, "VEXA", 4) != 0) {
            if (!writeAt(0, emptyHeader()))
                return false;
        }
        if (fstat(fd_, &st) != 0 || VRALIoPReadAll(fd_, h, 16, 0) != 16)
            return false;
        size_ = static_cast<uint64_t>(st.st_size);
        o_ = oStored_ = getU32(h + 8);
        w_ = getU32(h + 12);
        const uint64_t end = size_ < limit_ ? size_ : limit_;
        if (o_ < kFirst || w_ < kFirst || o_ > end || w_ > end)
            return reset(true);
        return true;
    }

    // Finds room for n bytes, drops what has to go, writes the record and
    // publishes it.
    bool put(const std::string &rec)
    {
        const auto n = static_cast<uint32_t>(rec.size());
        uint32_t pos = 0;
        for (;;) {
            if (o_ > w_) {
                if (w_ + n < o_) {
                    pos = w_;
                    break;
                }
                uint32_t len = 0;
                if (!lengthAt(o_, &len) || len == 0) {
                    o_ = kFirst;  // the older lap is gone
                    continue;
                }
                if (!recordFits(o_, len, end()))
                    return reset(true) && put(rec);
                o_ += len;
                continue;
            }
            if (w_ + n + 2 <= limit_) {
                pos = w_;
                break;
            }
            // Wrap: the lap ends at W, the record goes to the front, and the
            // oldest records make room until the oldest offset is above the
            // record's end.
            const uint32_t lapEnd = w_;
            while (o_ < lapEnd && o_ <= kFirst + n) {
                uint32_t len = 0;
                if (!lengthAt(o_, &len) || !recordFits(o_, len, lapEnd))
                    return reset(true) && put(rec);
                o_ += len;
            }
            if (o_ >= lapEnd) {
                // Nothing is left to drop: the log starts again empty.
                if (!reset(false))
                    return false;
                pos = kFirst;
                break;
            }
            if (!commitO() || !endLap(lapEnd))
                return false;
            w_ = kFirst;
            pos = kFirst;
            break;
        }
        if (!commitO() || !writeAt(pos, rec)) {
            syslog(LOG_ERR, "sdk/vexalog1 : line %d", __LINE__);
            return false;
        }
        w_ = pos + n;
        return storeW();
    }

private:
    uint32_t end() const { return size_ < limit_ ? static_cast<uint32_t>(size_) : limit_; }

    bool lengthAt(uint32_t off, uint32_t *len)
    {
        unsigned char b[2];
        if (off + 2 > size_ || VRALIoPReadAll(fd_, b, 2, off) != 2)
            return false;
        *len = b[0] | (b[1] << 8);
        return true;
    }

    bool writeAt(uint32_t off, const std::string &bytes)
    {
        if (VRALIoPWriteAll(fd_, bytes.data(), bytes.size(), off) != static_cast<ssize_t>(bytes.size())) {
            syslog(LOG_ERR, "VEXALogWriteByte(): write() error!, input count is [%d]", static_cast<int>(bytes.size()));
            return false;
        }
        if (off + bytes.size() > size_)
            size_ = off + bytes.size();
        return true;
    }

    // The lap ends in a zero length at W, or at the file's end when no two
    // bytes fit below the limit (a limit lowered under an old write offset).
    bool endLap(uint32_t lapEnd)
    {
        if (lapEnd + 2 <= limit_) {
            if (writeAt(lapEnd, std::string(2, '\0')))
                return true;
            syslog(LOG_ERR, "sdk/vexalog1 : lline %d", __LINE__);
            return false;
        }
        if (ftruncate(fd_, lapEnd) != 0) {
            syslog(LOG_ERR, "sdk/vexalog1 : lline %d", __LINE__);
            return false;
        }
        size_ = lapEnd;
        return true;
    }

    bool commitO()
    {
        if (o_ == oStored_)
            return true;
        unsigned char b[4];
        putU32(b, o_);
        if (!writeAt(8, std::string(reinterpret_cast<char *>(b), 4)) || fsync(fd_) != 0) {
            syslog(LOG_ERR, "sdk/vexalog1: line %d", __LINE__);
            return false;
        }
        oStored_ = o_;
        return true;
    }

    bool storeW()
    {
        unsigned char b[4];
        putU32(b, w_);
        if (fsync(fd_) != 0 || !writeAt(12, std::string(reinterpret_cast<char *>(b), 4))) {
            syslog(LOG_ERR, "sdk/vexalog1: line %d", __LINE__);
            return false;
        }
        return true;
    }

    // Empties the log: when nothing older is left to drop, or (damaged)
    // when its header or record chain cannot be followed and must not be
    // trusted.
    bool reset(bool damaged)
    {
        if (damaged)
            syslog(LOG_ERR, "sdk/vexalog1 : logfile %s damaged, started anew", path_);
        o_ = w_ = kFirst;
        if (fsync(fd_) != 0 || !writeAt(0, emptyHeader()) || fsync(fd_) != 0) {
            syslog(LOG_ERR, "sdk/vexalog1: line %d", __LINE__);
            return false;
        }
        oStored_ = kFirst;
        return true;
    }

    int fd_;
    const char *path_;
    uint32_t limit_;
    uint64_t size_ = 0;
    uint32_t o_ = kFirst;
    uint32_t oStored_ = kFirst;
    uint32_t w_ = kFirst;
};

}  // namespace

int writeRecord(const char *path, uint32_t limit, const std::string &record)
{
    vralio::Fd fd(openRetrying(path, O_RDWR | O_CREAT));
    if (!fd.ok()) {
        syslog(LOG_ERR, "logfile %s open error while writing!", path);
        return -1;
    }
    // Writers of one log exclude each other; one that cannot get the lock
    // in ten seconds writes all the same.
    bool locked = false;
    for (int attempt = 0; !locked; ++attempt) {
        locked = flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
        if (locked || attempt == 10)
            break;
        sleep(1);
    }
    Ring ring(fd.get(), path, limit);
    const bool ok = ring.load() && ring.put(record);
    if (locked)
        flock(fd.get(), LOCK_UN);
    if (ok)
        fchmod(fd.get(), 0600);
    return ok ? 0 : -1;
}

}  // namespace vexalog
