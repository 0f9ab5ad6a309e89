// One partition of a disk, from the first line sfdisk prints for it.
#include <cstdio>
#include <string>
#include <string_view>

#include "base/err/err_guard.h"
#include "base/file/file_line_reader.h"
#include "base/string/vral_string.h"
#include "services/raid/raid_internal.h"

namespace {

struct Pipe {
    FILE *fp;
    explicit Pipe(const char *cmd) : fp(popen(cmd, "re")) {}
    ~Pipe() { if (fp != nullptr) pclose(fp); }
    Pipe(const Pipe &) = delete;
    Pipe &operator=(const Pipe &) = delete;
};

}  // namespace

static long long partitionConfigs(int partno, const char *szDevice, unsigned long *pStart, unsigned long *pId)
{
    if (szDevice == nullptr || partno <= 0 || pStart == nullptr || pId == nullptr)
        return -1;
    std::string_view name = szDevice;
    if (name.substr(0, 5) == "/dev/")
        name.remove_prefix(5);
    if (name.empty())
        return -1;

    const std::string cmd = "/sbin/sfdisk -l -uS -N" + std::to_string(partno) + " " +
                            VRALStrShellQuoteString("/dev/" + std::string(name));
    Pipe pipe(cmd.c_str());
    if (pipe.fp == nullptr)
        return -1;

    vralfile::LineReader line(pipe.fp);
    if (!line.Next())
        return -1;
    // the parser drops the line's newline itself
    return vexa::raid::parsePartitionLine(line.Line(), pStart, pId);
}

extern "C" long long RCPartitionConfigs(int partno, const char *szDevice, unsigned long *pStart, unsigned long *pId)
{
    return vral::NoThrow(-1LL, [&] { return partitionConfigs(partno, szDevice, pStart, pId); });
}
