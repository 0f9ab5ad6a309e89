// approot_probe: small checks run inside an appliance root.
//   syslog PRI MESSAGE   send MESSAGE with syslog() at priority PRI (a number)
//   uptime               print sysinfo's uptime in seconds
//   speed IFNAME         print the link speed from the ethtool request, or the
//                        errno name when it fails
//   mtu IFNAME [NEW]     set the MTU when NEW is given, then print it (or the
//                        errno name)
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/sysinfo.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int printErrno(int e)
{
    const char *name = e == ENODEV ? "ENODEV" : e == EOPNOTSUPP ? "EOPNOTSUPP" : e == EPERM ? "EPERM" : nullptr;
    if (name != nullptr)
        printf("%s\n", name);
    else
        printf("errno %d\n", e);
    return 1;
}

ifreq request(const char *name)
{
    ifreq ifr{};
    strncpy(ifr.ifr_name, name, IFNAMSIZ - 1);
    return ifr;
}

}  // namespace

int main(int argc, char **argv)
{
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "syslog" && argc == 4) {
        syslog(atoi(argv[2]), "%s", argv[3]);
        return 0;
    }
    if (cmd == "uptime" && argc == 2) {
        struct sysinfo si;
        if (sysinfo(&si) != 0)
            return printErrno(errno);
        printf("%ld\n", si.uptime);
        return 0;
    }
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0)
        return printErrno(errno);
    if (cmd == "speed" && argc == 3) {
        ethtool_cmd ec{};
        ec.cmd = ETHTOOL_GSET;
        ifreq ifr = request(argv[2]);
        ifr.ifr_data = reinterpret_cast<char *>(&ec);
        if (ioctl(sock, SIOCETHTOOL, &ifr) != 0)
            return printErrno(errno);
        printf("%u\n", ethtool_cmd_speed(&ec));
        return 0;
    }
    if (cmd == "mtu" && (argc == 3 || argc == 4)) {
        ifreq ifr = request(argv[2]);
        if (argc == 4) {
            ifr.ifr_mtu = atoi(argv[3]);
            if (ioctl(sock, SIOCSIFMTU, &ifr) != 0)
                return printErrno(errno);
        }
        if (ioctl(sock, SIOCGIFMTU, &ifr) != 0)
            return printErrno(errno);
        printf("%d\n", ifr.ifr_mtu);
        return 0;
    }
    fprintf(stderr, "usage: approot_probe syslog PRI MSG | uptime | speed IF | mtu IF [NEW]\n");
    return 2;
}
