#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include "base/io/io_fd.h"
#include "base/io/vral_io.h"
#include "base/string/vral_string.h"
#include "services/bdb/bdb_tmp_file.h"
#include "services/log/log_internal.h"

namespace vexalog {

namespace {

struct Span {
    uint32_t off;
    uint32_t len;
};

uint32_t lengthAt(const std::string &buf, uint32_t off)
{
    const auto *p = reinterpret_cast<const unsigned char *>(buf.data()) + off;
    return p[0] | (p[1] << 8);
}

// The records oldest first; false when the chain cannot be followed.
bool collect(const std::string &buf, std::vector<Span> &spans)
{
    const auto size = static_cast<uint32_t>(buf.size());
    if (size < kFirst || memcmp(buf.data(), "VEXA", 4) != 0)
        return true;  // no header yet: an empty log
    const auto *h = reinterpret_cast<const unsigned char *>(buf.data());
    uint32_t off = getU32(h + 8);
    const uint32_t w = getU32(h + 12);
    if (off < kFirst || w < kFirst || off > size || w > size)
        return false;
    if (off > w) {
        for (uint32_t len; off + 2 <= size && (len = lengthAt(buf, off)) != 0; off += len) {
            if (!recordFits(off, len, size))
                return false;
            spans.push_back({off, len});
        }
        off = kFirst;
    }
    for (uint32_t len; off < w; off += len) {
        if (off + 2 > w || !recordFits(off, len = lengthAt(buf, off), w))
            return false;
        spans.push_back({off, len});
    }
    return true;
}

}  // namespace

int shrink(uint32_t cbDrop, const char *path)
{
    struct stat st {};
    if (stat(path, &st) != 0)
        return -1;
    vralio::Fd fd(openRetrying(path, O_RDONLY));
    if (!fd.ok()) {
        syslog(LOG_ERR, "logfile %s open error while writing!", path);
        return -1;
    }
    std::string buf(static_cast<size_t>(st.st_size), '\0');
    const ssize_t got = VRALIoReadAll(fd.get(), buf.data(), buf.size());
    if (got < 0)
        return -1;
    buf.resize(static_cast<size_t>(got));

    std::vector<Span> spans;
    if (!collect(buf, spans)) {
        syslog(LOG_ERR, "sdk/vexalog1 : logfile %s damaged, started anew", path);
        spans.clear();
    }
    size_t first = 0;
    for (uint32_t dropped = 0; first < spans.size() && dropped < cbDrop; ++first)
        dropped += spans[first].len;

    char tmpPath[4096];
    if (VRALFileTempNameGet(path, tmpPath, sizeof tmpPath) != 0)
        return -1;
    vexabdb::TmpFile tmp(path, tmpPath, 0600);
    if (!tmp.ok())
        return -1;
    std::string &text = tmp.text();
    text = emptyHeader();
    for (size_t i = first; i < spans.size(); ++i)
        text.append(buf, spans[i].off, spans[i].len);
    putU32(reinterpret_cast<unsigned char *>(text.data()) + 12, static_cast<uint32_t>(text.size()));
    if (tmp.finish() != 0 || tmp.moveIn() != 0)
        return -1;
    chmod(path, 0600);
    return 0;
}

}  // namespace vexalog
