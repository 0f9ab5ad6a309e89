// Secrets written in plain text by old firmware become base64 text.  No
// secret, in any form, and no secrets line ever reaches the log: the
// traces carry lengths, the failures line numbers.
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/string/vral_string.h"
#include "services/netbkp/vexa_netbkp.h"
#include "updt_preflash.h"

namespace {

constexpr const char *kStep = "CheckAndUpdateRsyncdSecrets";
constexpr const char *kTemp = SZF_RSYNCD_SECRETS ".tmp";

struct FileClose {
    void operator()(FILE *fp) const { fclose(fp); }
};
// getline's buffer, freed on every path.
struct LineBuf {
    char *p = nullptr;
    size_t cap = 0;
    LineBuf() = default;
    ~LineBuf() { free(p); }
    LineBuf(const LineBuf &) = delete;
    LineBuf &operator=(const LineBuf &) = delete;
};

// The line with its secret as base64 text, or false when it is dropped.
bool convertLine(char *line, int lineNo, std::vector<unsigned char> &work, std::string &out)
{
    if (VRALStrTrimSpace(line, nullptr) < 0) {
        syslog(LOG_ERR, "%s (%s):%d VRALStrTrimSpace() failed! line %d, errno=[0x%04X]", "updater", kStep, __LINE__,
               lineNo, VRALErrGet());
        return false;
    }
    char *bar = strchr(line, '|');
    if (bar == nullptr)
        return false;
    *bar = '\0';
    const char *secret = bar + 1;
    const size_t len = strlen(secret);
    syslog(LOG_DEBUG, "%s (%s):%d secret len=%d", "updater", kStep, __LINE__, static_cast<int>(len));

    if (work.size() < len + 1)
        work.resize(len + 1);
    unsigned int cbDecoded = static_cast<unsigned int>(work.size());
    if (Base64DecodeOneLine(secret, static_cast<unsigned int>(len), work.data(), &cbDecoded) == 1) {
        syslog(LOG_DEBUG, "%s (%s):%d decoded len=%u", "updater", kStep, __LINE__, cbDecoded);
        out.append(line).append("|").append(secret).append("\n");
        return true;
    }
    // The NUL goes along, so the decoded text ends where the secret did.
    const char *encoded = SzBase64EncodeOneLine(reinterpret_cast<const unsigned char *>(secret),
                                                static_cast<unsigned int>(len + 1));
    if (encoded == nullptr) {
        syslog(LOG_ERR, "%s (%s):%d SzBase64EncodeOneLine() failed! line %d", "updater", kStep, __LINE__, lineNo);
        return false;
    }
    syslog(LOG_DEBUG, "%s (%s):%d encoded len=%d", "updater", kStep, __LINE__, static_cast<int>(strlen(encoded)));
    out.append(line).append("|").append(encoded).append("\n");
    return true;
}

// The new content of the file, or false when it could not be read whole.
bool convertFile(std::string &out)
{
    std::unique_ptr<FILE, FileClose> in(fopen(SZF_RSYNCD_SECRETS, "re"));
    if (!in) {
        const int e = errno;
        syslog(LOG_ERR, "%s (%s):%d fail to open [%s]! errno=%d/%m", "updater", kStep, __LINE__, SZF_RSYNCD_SECRETS,
               e);
        return false;
    }
    std::vector<unsigned char> work;
    LineBuf line;
    int lineNo = 0;
    errno = 0;
    while (getline(&line.p, &line.cap, in.get()) >= 0)
        convertLine(line.p, ++lineNo, work, out);
    if (ferror(in.get()) || !feof(in.get())) {
        const int e = errno;
        syslog(LOG_ERR, "%s (%s):%d fail to read [%s]! errno=%d/%m", "updater", kStep, __LINE__, SZF_RSYNCD_SECRETS,
               e);
        return false;
    }
    return true;
}

}  // namespace

void CheckAndUpdateRsyncdSecrets(void)
{
    std::string out;
    try {
        if (!convertFile(out))
            return;
    } catch (...) {
        syslog(LOG_ERR, "%s (%s):%d out of memory", "updater", kStep, __LINE__);
        return;
    }
    // A copy a failed run left behind is no file of ours to keep.
    if (unlink(kTemp) != 0 && errno != ENOENT) {
        const int e = errno;
        syslog(LOG_ERR, "%s (%s):%d fail to open [%s]! errno=%d/%m", "updater", kStep, __LINE__, kTemp, e);
        return;
    }
    // The copy is 0640 and 0:25 before it holds a secret; any failed write
    // removes it and leaves the old file whole.
    if (VEXANetBkpSecretsFileCreate(kTemp, out.data(), out.size()) != 0) {
        const int e = errno;
        syslog(LOG_ERR, "%s (%s):%d fail to write [%s]! errno=%d/%m", "updater", kStep, __LINE__, kTemp, e);
        return;
    }
    if (rename(kTemp, SZF_RSYNCD_SECRETS) != 0) {
        const int e = errno;
        syslog(LOG_WARNING, "%s (%s):%d rename %s file failed! errno=%d/%m", "updater", kStep, __LINE__, kTemp, e);
        unlink(kTemp);
    }
}
