/* The download manager's settings in /etc/vexainfo.conf and the signals
 * that tell its scheduler (named by /var/run/scheduler.pid) to reload. */
#ifndef VEXA_FETCHCRATE_H
#define VEXA_FETCHCRATE_H

#ifdef __cplusplus
extern "C" {
#endif

#define DOWNLOAD_SCHEDULER_PID "/var/run/scheduler.pid"

typedef struct _tag_VEXADOWNLOADINFO {
    int enabled;
    char when[12];
    int order;             /* 1 "user", else "request" */
    int ulRate;
    int dlRate;
    int startPort;
    int endPort;
    int portMapEnabled;
    int seedingRatio;
    int seedingInterval;
    int enableDht;
    int dhtPort;
    int btMaxPeers;
    int btEncrypt;         /* 0 "disable", 1 "auto", 2 "always" */
    int maxTasks;
    int enableAmule;
    int amuleUlRate;
    int amuleDlRate;
    int amuleTcpPort;
    int amuleUdpPort;
    int amuleMaxConn;
    int amuleAutoConnect;  /* stored as a number */
    int ftpMaxEnable;
    int ftpMax;
    char nzbServer[64];
    unsigned short nzbPort;
    int nzbAuth;
    char nzbUser[64];
    char nzbPassword[32];
    int nzbNumConn;
} VEXADOWNLOADINFO;

/* Checks the whole record (texts NUL-ended within their arrays and free of
 * line breaks, btEncrypt 0 to 2), then writes its thirty keys under
 * LOCK_ID_VEXAINFO and sends the scheduler SIGHUP.  0, or -1: an invalid
 * record writes and signals nothing. */
int VEXADownloadInfoSet(const VEXADOWNLOADINFO *pInfo);

/* Sends iSignal to the scheduler named in its pid file.  0 when sent, when
 * the file does not exist, holds no decimal pid above 1, or names no live
 * process; -1 when the file cannot be read or is empty, or the signal
 * cannot be sent for another reason. */
int VEXADownloadSignalScheduler(int iSignal);

#ifdef __cplusplus
}
#endif

#endif
