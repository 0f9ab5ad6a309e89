// Helpers shared by the MTU source files.
#ifndef VEXA_NET_INTERNAL_H
#define VEXA_NET_INTERNAL_H

#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <syslog.h>

#include <cerrno>
#include <cstring>

#include "base/err/vral_err.h"
#include "services/mtd/vexa_mtd.h"  // vexamtd::Fd
#include "services/net/vexa_net.h"

#include "base/err/err_log.h"

namespace vexa::net {

// The request record holds the name with its terminator: a longer name
// would be cut into the name of another interface.
inline bool fitsRequest(const char *ifname)
{
    return strnlen(ifname, IFNAMSIZ) < IFNAMSIZ;
}

inline void requestFor(struct ifreq &ifr, const char *ifname)
{
    memset(&ifr, 0, sizeof ifr);
    memcpy(ifr.ifr_name, ifname, strlen(ifname));
}

enum class Request { Done, Failed, NoSocket };

// Issues request for ifr (name and data set by the caller) on a datagram
// socket of its own; on Failed, errno is the request's.
inline Request interfaceRequest(unsigned long request, struct ifreq &ifr)
{
    int err = 0;
    {
        vexamtd::Fd sock(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!sock.ok())
            return Request::NoSocket;
        if (ioctl(sock.get(), request, &ifr) == 0)
            return Request::Done;
        err = errno;
    }
    errno = err;
    return Request::Failed;
}

}  // namespace vexa::net

#endif
