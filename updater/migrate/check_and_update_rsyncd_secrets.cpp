// Secrets written in plain text by old firmware become base64 text.  No
// secret, in any form, and no secrets line ever reaches the log: the
// traces carry lengths, the failures line numbers.
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/err/vral_err.h"
#include "base/file/file_tmp_file.h"
#include "base/string/vral_string.h"
#include "migrate_lines.h"
#include "services/netbkp/vexa_netbkp.h"
#include "updt_preflash.h"

namespace {

constexpr const char *kStep = "CheckAndUpdateRsyncdSecrets";
constexpr const char *kTemp = SZF_RSYNCD_SECRETS ".tmp";

// Appends the line with its secret as base64 text, or drops it.
void convertLine(char *line, int lineNo, std::vector<unsigned char> &work, std::string &out)
{
    if (VRALStrTrimSpace(line, nullptr) < 0) {
        syslog(LOG_ERR, "%s (%s):%d VRALStrTrimSpace() failed! line %d, errno=[0x%04X]", "updater", kStep, __LINE__,
               lineNo, VRALErrGet());
        return;
    }
    char *bar = strchr(line, '|');
    if (bar == nullptr)
        return;
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
        return;
    }
    // The NUL goes along, so the decoded text ends where the secret did.
    const char *encoded = SzBase64EncodeOneLine(reinterpret_cast<const unsigned char *>(secret),
                                                static_cast<unsigned int>(len + 1));
    if (encoded == nullptr) {
        syslog(LOG_ERR, "%s (%s):%d SzBase64EncodeOneLine() failed! line %d", "updater", kStep, __LINE__, lineNo);
        return;
    }
    syslog(LOG_DEBUG, "%s (%s):%d encoded len=%d", "updater", kStep, __LINE__, static_cast<int>(strlen(encoded)));
    out.append(line).append("|").append(encoded).append("\n");
}

// The new content of the file, or false when it could not be read whole.
bool convertFile(std::string &out)
{
    std::vector<unsigned char> work;
    bool anyLine = false;
    const int rc = updt::migrate::ForEachLine(SZF_RSYNCD_SECRETS, [&](char *line, int lineNo) {
        anyLine = true;
        convertLine(line, lineNo, work, out);
        return true;
    });
    if (rc < 0) {
        const int e = errno;
        // Not even a first line: the file could not be opened.
        if (!anyLine)
            syslog(LOG_ERR, "%s (%s):%d fail to open [%s]! errno=%d/%m", "updater", kStep, __LINE__,
                   SZF_RSYNCD_SECRETS, e);
        else
            syslog(LOG_ERR, "%s (%s):%d fail to read [%s]! errno=%d/%m", "updater", kStep, __LINE__,
                   SZF_RSYNCD_SECRETS, e);
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
    vralfile::TmpFile tmp(SZF_RSYNCD_SECRETS, kTemp, NETBKP_SECRETS_MODE);
    tmp.text() = std::move(out);
    if (!tmp.ok() || tmp.setOwner(NETBKP_SECRETS_UID, NETBKP_SECRETS_GID) != 0 ||
        tmp.setMode(NETBKP_SECRETS_MODE) != 0 || tmp.finish() != 0) {
        const int e = errno;
        syslog(LOG_ERR, "%s (%s):%d fail to write [%s]! errno=%d/%m", "updater", kStep, __LINE__, kTemp, e);
        return;
    }
    if (tmp.moveIn() != 0) {
        const int e = errno;
        syslog(LOG_WARNING, "%s (%s):%d rename %s file failed! errno=%d/%m", "updater", kStep, __LINE__, kTemp, e);
    }
}
