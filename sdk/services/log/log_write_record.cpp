#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <memory>

#include "base/io/io_fd.h"
#include "services/log/log_internal.h"

using namespace vexalog;

namespace {

// One open log file and its ring: the records held, oldest first, in the
// older lap of a wrapped log and up to the write offset.  A ring whose
// chain can be followed is sound whatever the limit: it wraps within the
// limit of the day, and records an older limit left above it stay until
// new ones need their room.  Every stored offset leaves the header naming
// a chain that can be followed.
class Ring {
public:
    Ring(int fd, const char *path, uint32_t limit) : fd_(fd), path_(path), limit_(limit) {}

    bool load()
    {
        if (VEXALogCheckHeader(fd_) < 0)
            return false;
        const int o = VEXALogGetStartOffset(fd_);
        const int w = VEXALogGetEndOffset(fd_);
        if (o < 0 || w < 0) {
            syslog(LOG_ERR, "sdk/vexalog1 : logfile %s header cut short, started anew", path_);
            return empty();
        }
        std::string bytes;
        Chain chain;
        if (!readAll(fd_, &bytes))
            return false;
        size_ = bytes.size();
        if (!followChain(bytes, static_cast<uint32_t>(o), static_cast<uint32_t>(w), &chain)) {
            syslog(LOG_ERR, "sdk/vexalog1 : logfile %s damaged, started anew", path_);
            return empty();
        }
        oStored_ = static_cast<uint32_t>(o);
        w_ = static_cast<uint32_t>(w);
        wrapped_ = oStored_ > w_;
        older_.assign(chain.older.begin(), chain.older.end());
        newer_.assign(chain.newer.begin(), chain.newer.end());
        lapEnd_ = chain.lapEnd;
        return true;
    }

    // Drops from the oldest what the record needs, writes it and
    // publishes it.
    bool put(const unsigned char *rec, uint32_t n)
    {
        for (;;) {
            if (wrapped_) {
                if (fits(n)) {
                    while (!older_.empty() && older_.front().off <= w_ + n)
                        older_.pop_front();
                    if (!older_.empty())
                        return setStart(older_.front().off) && place(w_, rec, n, "sdk/vexalog1 : lline 432");
                    // The older lap is used up; its end stays the oldest
                    // offset while the record fits below it.
                    if (lapEnd_ > w_ + n)
                        return setStart(lapEnd_) && place(w_, rec, n, "sdk/vexalog1 : lline 432");
                } else {
                    older_.clear();  // the rest of the older lap goes first
                }
                wrapped_ = false;
                if (!setStart(newer_.empty() ? w_ : newer_.front().off))
                    return false;
                continue;
            }
            if (fits(n))
                return place(w_, rec, n, "sdk/vexalog1 : line 335");
            // Wrap: the record goes to the front, the oldest make room
            // until the oldest offset is above its end.
            const uint32_t lapEnd = w_;
            while (!newer_.empty() && newer_.front().off <= kFirst + n)
                newer_.pop_front();
            if (newer_.empty())
                return empty() && place(kFirst, rec, n, "sdk/vexalog1 : line 371");
            if (!setStart(newer_.front().off))
                return false;
            // The lap ends at a zero length, or at the file's end where
            // the limit has no room for one.
            if (lapEnd + 2 <= size_ || lapEnd + 2 <= limit_) {
                if (!writeAt(lapEnd, "\0\0", 2)) {
                    syslog(LOG_ERR, "sdk/vexalog1 : lline 349");
                    return false;
                }
            }
            wrapped_ = true;
            lapEnd_ = lapEnd;
            return place(kFirst, rec, n, "sdk/vexalog1 : line 371");
        }
    }

private:
    // Room for n bytes and a lap's end at the write offset below the limit.
    bool fits(uint32_t n) const { return uint64_t{w_} + n + 2 <= limit_; }

    bool writeAt(uint32_t off, const void *buf, uint32_t n)
    {
        if (lseek(fd_, off, SEEK_SET) != off || VEXALogWriteByte(fd_, buf, static_cast<int>(n)) < 0)
            return false;
        if (off + n > size_)
            size_ = off + n;
        return true;
    }

    bool setStart(uint32_t o)
    {
        if (o == oStored_)
            return true;
        if (VEXALogSetStartOffset(fd_, o) < 0)
            return false;
        oStored_ = o;
        return true;
    }

    bool place(uint32_t at, const unsigned char *rec, uint32_t n, const char *failed)
    {
        if (!writeAt(at, rec, n)) {
            syslog(LOG_ERR, "%s", failed);
            return false;
        }
        w_ = at + n;
        return VEXALogSetEndOffset(fd_, w_) >= 0;
    }

    // An empty log: both offsets 16 at once.
    bool empty()
    {
        unsigned char b[8];
        putU32(b, kFirst);
        putU32(b + 4, kFirst);
        if (!writeAt(8, b, 8) || fsync(fd_) != 0) {
            syslog(LOG_ERR, "sdk/vexalog1: line 160");
            return false;
        }
        oStored_ = w_ = kFirst;
        wrapped_ = false;
        older_.clear();
        newer_.clear();
        return true;
    }

    int fd_;
    const char *path_;
    uint64_t limit_;
    uint64_t size_ = 0;
    uint32_t oStored_ = kFirst;
    uint32_t w_ = kFirst;
    uint32_t lapEnd_ = 0;
    bool wrapped_ = false;
    std::deque<Span> older_;
    std::deque<Span> newer_;
};

}  // namespace

int VEXALogWriteRecord(const char *path, int level, unsigned event, const char *text1, const char *text2,
                       const char *text3, const char *text4)
{
    unsigned char *raw = nullptr;
    const uint32_t n = VEXALogRecordPack(&raw, level, event, text1, text2, text3, text4);
    const std::unique_ptr<unsigned char, decltype(&free)> rec(raw, free);
    // A record must fit the ring's region with the two bytes of a lap's end.
    if (n == 0 || gLogSizeLimit < 0 || uint64_t{n} + kFirst + 2 > static_cast<uint64_t>(gLogSizeLimit)) {
        syslog(LOG_ERR, "sdk/vexalog1 : event not written to %s: too long", path);
        return -1;
    }
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
    Ring ring(fd.get(), path, static_cast<uint32_t>(gLogSizeLimit));
    const bool ok = ring.load() && ring.put(rec.get(), n);
    if (locked)
        flock(fd.get(), LOCK_UN);
    if (ok)
        fchmod(fd.get(), 0600);
    return ok ? 0 : -1;
}
