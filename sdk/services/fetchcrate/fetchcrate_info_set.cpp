#include <signal.h>
#include <sys/file.h>
#include <syslog.h>

#include <cstdio>
#include <cstring>

#include "base/file/vral_file.h"
#include "base/lock/vral_lock.h"
#include "services/fetchcrate/vexa_fetchcrate.h"

namespace {

constexpr const char *kInfoConf = VEXA_INFO_CONF;
constexpr char kKeyFormat[] = "%s=\"%s\"\n";

template <size_t N>
bool textOk(const char (&text)[N])
{
    const void *end = memchr(text, '\0', N);
    return end != nullptr && strpbrk(text, "\r\n") == nullptr;
}

// A record that would stop half-way (an unknown encryption mode) or whose
// text would break the key line is refused before anything is written.
bool recordOk(const VEXADOWNLOADINFO &r)
{
    return r.btEncrypt >= 0 && r.btEncrypt <= 2 && textOk(r.when) && textOk(r.nzbServer) &&
           textOk(r.nzbUser) && textOk(r.nzbPassword);
}

class Writer {
public:
    bool ok = true;

    void text(const char *key, const char *value)
    {
        if (ok && VRALFileSetKeyValue(kInfoConf, key, value, kKeyFormat) < 0) {
            syslog(LOG_ERR, "%s (%d) There is an error here.", "fetchcrate_info_set", __LINE__);
            ok = false;
        }
    }
    void number(const char *key, int value)
    {
        char buf[16];
        snprintf(buf, sizeof buf, "%i", value);
        text(key, buf);
    }
    void yesNo(const char *key, int value) { text(key, value != 0 ? "yes" : "no"); }
};

const char *encryptText(int mode)
{
    switch (mode) {
    case 1:
        return "auto";
    case 2:
        return "always";
    default:
        return "disable";
    }
}

}  // namespace

extern "C" int VEXADownloadInfoSet(const VEXADOWNLOADINFO *pInfo)
{
    if (pInfo == nullptr || !recordOk(*pInfo)) {
        syslog(LOG_ERR, "%s (%d) There is an error here.", "fetchcrate_info_set", __LINE__);
        return -1;
    }
    if (VRALFileLock(LOCK_ID_VEXAINFO | LOCK_EX | LOCK_NB, 5) != 0) {
        syslog(LOG_ERR, "%s (%d) There is an error here.", "fetchcrate_info_set", __LINE__);
        return -1;
    }
    const VEXADOWNLOADINFO &r = *pInfo;
    Writer w;
    w.yesNo("download_enabled", r.enabled);
    w.text("download_order", r.order == 1 ? "user" : "request");
    w.text("download_when", r.when);
    w.number("download_ul_rate", r.ulRate);
    w.number("download_dl_rate", r.dlRate);
    w.number("download_start_port", r.startPort);
    w.number("download_end_port", r.endPort);
    w.yesNo("download_port_map_enabled", r.portMapEnabled);
    w.number("download_seeding_interval", r.seedingInterval);
    w.number("download_seeding_ratio", r.seedingRatio);
    w.yesNo("download_enable_dht", r.enableDht);
    w.number("download_dhtport", r.dhtPort);
    w.text("download_btencrypt", encryptText(r.btEncrypt));
    w.number("download_btmaxpeers", r.btMaxPeers);
    w.yesNo("download_enable_amule", r.enableAmule);
    w.number("download_amule_ul_rate", r.amuleUlRate);
    w.number("download_amule_dl_rate", r.amuleDlRate);
    w.number("download_amule_tcp_port", r.amuleTcpPort);
    w.number("download_amule_udp_port", r.amuleUdpPort);
    w.number("download_amule_max_conn", r.amuleMaxConn);
    w.number("download_amule_auto_connect", r.amuleAutoConnect);
    w.number("download_maxtasks", r.maxTasks);
    w.text("download_nzb_server", r.nzbServer);
    w.number("download_nzb_port", r.nzbPort);
    w.yesNo("download_nzb_auth", r.nzbAuth);
    w.text("download_nzb_user", r.nzbUser);
    w.text("download_nzb_password", r.nzbPassword);
    w.number("download_nzb_numconn", r.nzbNumConn);
    w.yesNo("download_ftpmax_enable", r.ftpMaxEnable);
    w.number("download_ftpmax", r.ftpMax);

    if (w.ok && VEXADownloadSignalScheduler(SIGHUP) != 0)
        syslog(LOG_ERR, "%s (%d)Failed to hup scheduled.", "fetchcrate_info_set", __LINE__);
    VRALFileUnlock(LOCK_ID_VEXAINFO);
    return w.ok ? 0 : -1;
}
