#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "base/io/io_fd.h"
#include "base/string/vral_string.h"
#include "base/file/file_tmp_file.h"
#include "services/log/log_internal.h"

using namespace vexalog;

int VEXALogShrink(int cbDrop, const char *path)
{
    // The file a link names is replaced, the link kept.
    std::string target;
    struct stat st {};
    if (!logTarget(path, &target) || stat(target.c_str(), &st) != 0)
        return -1;
    std::string bytes;
    {
        vralio::Fd fd(openRetrying(target.c_str(), O_RDONLY));
        if (!fd.ok()) {
            syslog(LOG_ERR, "logfile %s open error while writing!", path);
            return -1;
        }
        if (!readAll(fd.get(), &bytes))
            return -1;
    }
    // Without a whole header the log holds nothing yet.
    Chain chain;
    if (bytes.size() >= kFirst && memcmp(bytes.data(), "VEXA", 4) == 0) {
        const auto *h = reinterpret_cast<const unsigned char *>(bytes.data());
        if (!followChain(bytes, getU32(h + 8), getU32(h + 12), &chain)) {
            syslog(LOG_ERR, "sdk/vexalog1 : logfile %s damaged, started anew", path);
            chain = Chain();
        }
    }
    std::vector<Span> spans = std::move(chain.older);
    spans.insert(spans.end(), chain.newer.begin(), chain.newer.end());
    size_t first = 0;
    for (int64_t dropped = 0; first < spans.size() && dropped < cbDrop; ++first)
        dropped += spans[first].len;

    char tmpPath[4096];
    if (VRALFileTempNameGet(target.c_str(), tmpPath, sizeof tmpPath) != 0)
        return -1;
    vralfile::TmpFile tmp(target.c_str(), tmpPath, 0600);
    if (!tmp.ok())
        return -1;
    std::string &text = tmp.text();
    text.assign(kFirst, '\0');
    memcpy(text.data(), "VEXA", 4);
    putU32(reinterpret_cast<unsigned char *>(text.data()) + 8, kFirst);
    for (size_t i = first; i < spans.size(); ++i)
        text.append(bytes, spans[i].off, spans[i].len);
    putU32(reinterpret_cast<unsigned char *>(text.data()) + 12, static_cast<uint32_t>(text.size()));
    if (tmp.finish() != 0 || tmp.moveIn() != 0)
        return -1;
    chmod(target.c_str(), 0600);
    return 0;
}
