// A reader of the binary log files written independently of the writer:
// follows the lengths from the oldest offset, jumps to 16 at a zero length
// or the file's end while wrapped, and stops at the write offset.
#ifndef VEXA_TEST_LOG_READER_H
#define VEXA_TEST_LOG_READER_H

#include <cstdint>
#include <string>
#include <vector>

namespace logtest {

struct Record {
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t level = 0;
    uint32_t time = 0;
    uint32_t event = 0;
    std::string program, user, texts[4];
};

struct Log {
    std::string error;  // empty when the chain was followed
    uint32_t oldest = 0, write = 0;
    bool wrapped = false;
    std::vector<Record> records;
};

inline uint32_t u16(const std::string &b, size_t at)
{
    return static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8);
}

inline uint32_t u32(const std::string &b, size_t at)
{
    return u16(b, at) | (u16(b, at + 2) << 16);
}

inline bool readRecord(const std::string &b, uint32_t off, Log &log)
{
    if (off + 24 > b.size()) {
        log.error = "record header past the end at " + std::to_string(off);
        return false;
    }
    Record r;
    r.offset = off;
    r.length = u16(b, off);
    r.level = u16(b, off + 2);
    r.time = u32(b, off + 4);
    r.event = u32(b, off + 12);
    const uint32_t lens[6] = {u16(b, off + 8), u16(b, off + 10), u16(b, off + 16),
                              u16(b, off + 18), u16(b, off + 20), u16(b, off + 22)};
    uint32_t sum = 24;
    for (uint32_t l : lens)
        sum += l;
    if (sum != r.length || off + r.length > b.size()) {
        log.error = "bad record at " + std::to_string(off);
        return false;
    }
    size_t at = off + 24;
    std::string *fields[6] = {&r.program, &r.user, &r.texts[0], &r.texts[1], &r.texts[2], &r.texts[3]};
    for (int i = 0; i < 6; ++i) {
        *fields[i] = b.substr(at, lens[i]);
        at += lens[i];
    }
    log.records.push_back(r);
    return true;
}

inline Log readLog(const std::string &b)
{
    Log log;
    if (b.size() < 16 || b.compare(0, 4, "VEXA") != 0) {
        log.error = "no header";
        return log;
    }
    log.oldest = u32(b, 8);
    log.write = u32(b, 12);
    log.wrapped = log.oldest > log.write;
    uint32_t off = log.oldest;
    if (log.wrapped) {
        while (off + 2 <= b.size() && u16(b, off) != 0) {
            if (!readRecord(b, off, log))
                return log;
            off += u16(b, off);
        }
        off = 16;
    }
    while (off < log.write) {
        if (!readRecord(b, off, log))
            return log;
        off += u16(b, off);
    }
    if (off != log.write)
        log.error = "chain passes the write offset";
    return log;
}

}  // namespace logtest

#endif
