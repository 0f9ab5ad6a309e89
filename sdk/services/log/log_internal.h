// The record writer, the shrink and what they share: the header, the
// record layout, the user name and the checks that make a damaged log
// start afresh instead of being followed.
#ifndef VEXA_LOG_INTERNAL_H
#define VEXA_LOG_INTERNAL_H

#include <syslog.h>

#include <cstdint>
#include <string>

#include "services/log/vexa_log.h"

namespace vexalog {

constexpr uint32_t kFirst = 16;         // first record offset
constexpr uint32_t kFixed = 24;         // a record's fixed fields
constexpr uint32_t kMaxRecord = 65535;  // u16 length

// The class's own file ("/var/log/vexaman1.log" for class 2), or NULL.
const char *builtInFile(int iClass);

// The record of one event, or "" when it cannot be one (over 65535 bytes).
std::string packRecord(int level, unsigned event, const char *const texts[4]);

// The user name recorded: USERNAME when set, else the name of the
// effective uid's user; "root" is recorded as "admin".
const char *userName();

// Descriptor opened with eleven attempts a second apart; -1 when all fail.
int openRetrying(const char *path, int flags);

// Appends the record to the log at path within limit bytes: 0 or -1.
int writeRecord(const char *path, uint32_t limit, const std::string &record);

// Drops at least cbDrop bytes of the oldest records: 0 or -1.
int shrink(uint32_t cbDrop, const char *path);

// A record length that can stand at off in a region ending at end.
inline bool recordFits(uint32_t off, uint32_t len, uint32_t end)
{
    return len >= kFixed && off + len <= end;
}

inline uint32_t getU32(const unsigned char *p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void putU16(unsigned char *p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

inline void putU32(unsigned char *p, uint32_t v)
{
    putU16(p, v);
    putU16(p + 2, v >> 16);
}

// A header of an empty log.
std::string emptyHeader();

}  // namespace vexalog

#endif
