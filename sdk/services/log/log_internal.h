// The record writer, the shrink and what they share: the header, the
// record layout, the user name, the walk along a log's chain of records
// and the opening of a log file.
#ifndef VEXA_LOG_INTERNAL_H
#define VEXA_LOG_INTERNAL_H

#include <syslog.h>

#include <cstdint>
#include <string>
#include <vector>

#include "services/log/vexa_log.h"

// The record writer: appends one event to the log at path within
// gLogSizeLimit.  0 or -1.
int VEXALogWriteRecord(const char *path, int level, unsigned event, const char *text1, const char *text2,
                       const char *text3, const char *text4);

// Drops at least cbDrop bytes of the oldest records by copying the rest
// into a fresh file put in the log's place.  0 or -1.
int VEXALogShrink(int cbDrop, const char *path);

// One record in a new zero-filled heap block at *ppRecord (the caller
// frees it); its length, or 0 without memory or when it would pass 65535
// bytes (nothing allocated then).
unsigned short VEXALogRecordPack(unsigned char **ppRecord, int level, unsigned event, const char *text1,
                                 const char *text2, const char *text3, const char *text4);

// 4 when the file begins with the magic, else 12 once a fresh header
// (magic, 16, 16) is written; -1 when that fails.
int VEXALogCheckHeader(int fd);

// The oldest-record and the write offset of the header; -1 when 4 bytes
// cannot be read.
int VEXALogGetStartOffset(int fd);
int VEXALogGetEndOffset(int fd);

// Stores the oldest-record offset, then syncs; stores the write offset
// after syncing the records it publishes.  4 or -1 (logged).
int VEXALogSetStartOffset(int fd, uint32_t offset);
int VEXALogSetEndOffset(int fd, uint32_t offset);

// n bytes written or read at the descriptor's offset: n, or -1 (a failed
// write logged).
int VEXALogWriteByte(int fd, const void *buf, int n);
int VEXALogReadByte(int fd, void *buf, int n);

// The user name recorded: USERNAME when set, else the name of the
// effective uid's user; "root" is recorded as "admin".  A static buffer.
const char *VEXALogGetUserName();

namespace vexalog {

constexpr uint32_t kFirst = 16;         // first record offset
constexpr uint32_t kFixed = 24;         // a record's fixed fields
constexpr uint32_t kMaxRecord = 65535;  // u16 length

// The log classes: the keys of "/etc/vexalog.conf" that name a class's
// file and its size limit, the class's own file, and the limit without a
// configured one.  Class 4 has none.
struct LogClass {
    int iClass;
    const char *fileKey;
    const char *sizeKey;
    const char *file;
    int defaultLimit;
};

inline constexpr LogClass kLogClasses[] = {
    {1, "syslogfile", "syslogfilesize_MAX", "/var/log/vexasys.log", 131072},
    {2, "manlogfile", "manlogfilesize_MAX", "/var/log/vexaman1.log", 65536},
    {3, "connlogfile", "connlogfilesize_MAX", "/var/log/vexaconn.log", 65536},
    {5, "bkplogfile", "bkplogfilesize_MAX", "/var/log/vexabackup.log", 65536},
    {6, "copylogfile", "copylogfilesize_MAX", "/var/log/vexacopy.log", 65536},
    {7, "netbkplogfile", "netbkplogfilesize_MAX", "/var/log/vexanetbkp.log", 65536},
    {8, "surlogfile", "surlogfilesize_MAX", "/var/log/vexasur.log", 65536},
};

// The row of a class, or NULL.
inline const LogClass *logClassOf(int iClass)
{
    for (const LogClass &c : kLogClasses) {
        if (c.iClass == iClass)
            return &c;
    }
    return nullptr;
}

// The class's own file ("/var/log/vexaman1.log" for class 2), or NULL.
const char *builtInFile(int iClass);

// The file a log's path names: links followed only where root alone can
// write the folder that holds them.  False (logged) for any other link.
bool logTarget(const char *path, std::string *pTarget);

// Descriptor of the file logTarget gives, opened without following a
// link, with eleven attempts a second apart; -1 when all fail, or at once
// for a link that is not to be followed.
int openRetrying(const char *path, int flags);

struct Span {
    uint32_t off;
    uint32_t len;
};

// The records of a log, oldest first: older holds those of the older lap
// of a wrapped log (from the oldest offset up to the marker or the file's
// end), newer those up to the write offset.
struct Chain {
    std::vector<Span> older;
    std::vector<Span> newer;
    uint32_t lapEnd = 0;  // where the older lap ends
};

// Follows the chain of a log file's bytes from oldest offset o to write
// offset w.  False when it cannot be followed: an offset below 16 or past
// the file, a length below 24, a record that crosses the file's end or the
// write offset.
bool followChain(const std::string &bytes, uint32_t o, uint32_t w, Chain *pChain);

// The whole file behind fd; false when it cannot be read.
bool readAll(int fd, std::string *pBytes);

inline uint32_t getU16(const unsigned char *p)
{
    return p[0] | (p[1] << 8);
}

inline uint32_t getU32(const unsigned char *p)
{
    return getU16(p) | (getU16(p + 2) << 16);
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

}  // namespace vexalog

#endif
